// What a simulated camera is: its identity and capabilities, chosen per camera.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavro::sim {

struct CameraConfig {
    std::array<uint8_t, 6> mac{0x00, 0x0C, 0x4B, 0x10, 0x20, 0x30};
    std::string manufacturer = "Kavro Simulated Cameras";
    std::string model = "KSC-1000";
    std::string deviceVersion = "1.0.0";
    std::string manufacturerInfo = "Software camera for tests and demos";
    std::string serialNumber = "SIM00001";
    std::string userName = "sim-cam";
    // The First URL; empty: the camera's own description in its read-only region,
    // "Local:KavroSimCamera.xml;800000;<length>" (".zip" when zipped). Set it to test broken
    // URLs; the description stays in place.
    std::string firstUrl;
    std::string secondUrl;
    // Carry the description as a zip archive (made at start-up) instead of plain XML.
    bool zipDescription = false;
    // Bytes placed in the description region instead of the built-in description, as given
    // (not zipped). Empty: the built-in one.
    std::vector<uint8_t> descriptionBytes;

    uint32_t gevVersion = 0x00020000;  // major in the high 16 bits
    uint32_t deviceMode = 0x80000000;  // big-endian, device class transmitter
    uint32_t gvcpCapability = 0xF800007E;
    uint32_t messageChannels = 1;  // 0: no message channel, and no event capability bits
    uint32_t streamChannels = 1;
    uint32_t actionSignals = 2;  // key/mask pairs, when the capability lists ACTION
    uint32_t heartbeatTimeoutMs = 3000;
    uint64_t tickFrequency = 1000000000;
    uint32_t packetSize = 1500;  // low 16 bits of SCPS0
    // SCPS0 writes of a larger packet size are refused with INVALID_PARAMETER; 0: no limit.
    uint32_t maxPacketSize = 0;
    // The largest IP packet the simulated path to the host passes: a test packet marked "do not
    // fragment" that is larger is never delivered. 0: no limit. Test packets carry the test
    // data sequence when gvcpCapability has bit 0x02000000, else zeros.
    uint32_t pathMtu = 0;
    // The subnet mask the camera reports (discovery answer, current mask register) whatever its
    // real one is: a camera with a wrong or empty mask. nullopt: its real mask.
    std::optional<uint32_t> reportedSubnetMask;
    // Bits per second of the camera's link: the packets of each frame leave spread at this line
    // rate (1000000000 for a 1 Gbit/s camera), not as one burst. 0: as fast as the host sends.
    uint64_t linkBitsPerSecond = 0;
    // Packets leave in runs of up to this many in one segmented send (see StreamFormat).
    uint32_t streamRunLength = 0;
    bool supportsPersistentIp = true;  // network interface capability bit value 0x1
    // The network interface that is this camera's link (in its namespace): broadcasts are heard
    // only there, and a forced address is put on it. Empty: broadcasts from every link, and a
    // forced address must already be local.
    std::string broadcastInterface;

    // Refuse commands that the control privilege does not allow (ACCESS_DENIED). Off, every
    // host may read and write; CCP writes, heartbeat expiry and takeovers still happen.
    bool enforceControlPrivilege = true;

    // Field patterns of the stream an acquisition started through the features sends: each
    // payload packet, leader and trailer is lost with its probability (seeded); resent packets
    // carry status 0x0100 unless `plainResends`; `streamParts` > 0 sends every block as a
    // multi-part block (payload type 0x000A) of that many parts.
    uint64_t streamSeed = 1;
    double streamLoss = 0.0;
    double streamLeaderLoss = 0.0;
    double streamTrailerLoss = 0.0;
    bool plainResends = false;
    uint32_t streamParts = 0;
    // A sensor with a Bayer RG colour filter: PixelFormat BayerRG8 and the colour gains.
    bool colourSensor = false;

    // Size of the device memory that READMEM/WRITEMEM reach beyond the bootstrap registers
    // (user memory), from 0x10000 up.
    uint32_t userMemoryBase = 0x10000;
    uint32_t userMemorySize = 0x40000;
    // The user memory from this offset to its end takes writes but refuses reads with
    // ACCESS_DENIED, as write-only memory of a camera does. nullopt: all of it reads.
    std::optional<uint32_t> writeOnlyUserMemoryFrom;
};

}  // namespace kavro::sim
