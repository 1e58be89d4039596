/* KavroGigEVisionLib: host-side library for GigE Vision cameras.
 *
 * Flat C interface. Every call returns a GevStatus (0 = success); results come back through
 * pointer arguments. Device indexes run from 1 to 20. IPv4 addresses are passed in network byte
 * order, ports in host byte order, time-outs in milliseconds.
 *
 * Statuses every call taking a device index may return, besides those its comment names:
 * 0xC001 (GEV_STATUS_DEVICE_NOT_OPEN) for an index that is not open in this process, 0xC032
 * (GEV_STATUS_INVALID_ARGUMENT) for a null pointer where a result goes, 0xC033
 * (GEV_STATUS_INTERNAL_ERROR) for an unexpected failure inside the library. Calls that talk to
 * the camera may also return 0xC008 (no answer after the retries), 0xC004/0xC005 (socket send
 * or receive failed), 0x8006 (access denied, also while the control link is failed) and any
 * GigE Vision device status the camera answers with (0x8001 and up). GEVStatusText turns any
 * status into its name and meaning.
 *
 * Threads: calls for different devices may run in parallel. Calls for one device may also run in
 * parallel, except GEVInit and GEVClose, which must not overlap any other call for that index.
 * Callbacks run on the library thread that produced the event and must return quickly; they must
 * not call GEVClose for their own device. Device indexes are shared by every process of the
 * machine: an index another running process holds gives 0xC002 at GEVInit. */
#ifndef KAVRO_GIGE_VISION_LIB_H
#define KAVRO_GIGE_VISION_LIB_H

#include <stdint.h>

#if defined(KAVRO_BUILDING_LIBRARY)
#define KAVRO_API __attribute__((visibility("default")))
#else
#define KAVRO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint16_t GevStatus;

/* Status codes returned by the library itself. Codes with the high bit set (0x8001 and up) are
 * GigE Vision device status codes passed through from the camera's acknowledge. */
#define GEV_STATUS_SUCCESS 0x0000
#define GEV_STATUS_WIDTH_NOT_MULTIPLE_OF_4 0x0003
#define GEV_STATUS_DEVICE_NOT_OPEN 0xC001
#define GEV_STATUS_DEVICE_ALREADY_OPEN 0xC002
#define GEV_STATUS_SOCKET_ERROR 0xC003
#define GEV_STATUS_SEND_ERROR 0xC004
#define GEV_STATUS_RECEIVE_ERROR 0xC005
#define GEV_STATUS_OUT_OF_MEMORY 0xC007
#define GEV_STATUS_TIMEOUT 0xC008
#define GEV_STATUS_WAIT_ERROR 0xC009
#define GEV_STATUS_WRONG_ACKNOWLEDGE 0xC00A
#define GEV_STATUS_THREAD_ERROR 0xC00B
#define GEV_STATUS_MULTICAST_ERROR 0xC00C
#define GEV_STATUS_FILTER_DRIVER_NOT_OPEN 0xC00D
#define GEV_STATUS_IMAGE_INCOMPLETE 0xC010
#define GEV_STATUS_FILTER_DRIVER_REFUSED 0xC011
#define GEV_STATUS_FILE_EMPTY 0xC012
#define GEV_STATUS_FILE_OPEN_ERROR 0xC013
#define GEV_STATUS_NO_GAIN_CONTROL 0xC016
#define GEV_STATUS_NO_EXPOSURE_CONTROL 0xC017
#define GEV_STATUS_ADAPTER_LIST_ERROR 0xC018
#define GEV_STATUS_FILTER_DRIVER_INVALID_HANDLE 0xC019
#define GEV_STATUS_CLINK_SEND_ERROR 0xC01B
#define GEV_STATUS_CLINK_RECEIVE_ERROR 0xC01C
#define GEV_STATUS_FEATURE_NOT_FOUND 0xC01D
#define GEV_STATUS_FORMULA_ERROR 0xC01E
#define GEV_STATUS_FEATURE_TEXT_MISSING 0xC01F
#define GEV_STATUS_NOT_SUPPORTED 0xC020
#define GEV_STATUS_URL_ERROR 0xC021
#define GEV_STATUS_DESCRIPTION_READ_ERROR 0xC022
#define GEV_STATUS_DESCRIPTION_EMPTY 0xC023
#define GEV_STATUS_ZIP_ERROR 0xC024
#define GEV_STATUS_XML_NO_ROOT 0xC025
#define GEV_STATUS_XML_NOT_WELL_FORMED 0xC026
#define GEV_STATUS_FILTER_DRIVER_INVALID_PARAMETER 0xC027
#define GEV_STATUS_SCHEMA_ERROR 0xC028
#define GEV_STATUS_STYLESHEET_ERROR 0xC029
#define GEV_STATUS_FEATURE_LIST_EMPTY 0xC02A
#define GEV_STATUS_DEVICE_IN_USE 0xC02B
#define GEV_STATUS_TEST_PACKET_DATA_ERROR 0xC02C
#define GEV_STATUS_XML_LIBRARY_MISSING 0xC02F
#define GEV_STATUS_NO_PAYLOAD_SIZE 0xC030
#define GEV_STATUS_NOT_IN_SUBNET 0xC031
/* Library-returned codes that share their value with a GigE Vision device status. */
#define GEV_STATUS_NOT_IMPLEMENTED 0x8002
#define GEV_STATUS_INVALID_ADDRESS 0x8003
#define GEV_STATUS_ACCESS_DENIED 0x8006
/* A null pointer, or a count that does not fit one GVCP command (see GEV_MAX_*). */
#define GEV_STATUS_INVALID_ARGUMENT 0xC032
/* An unexpected internal failure; no exception ever crosses the interface. */
#define GEV_STATUS_INTERNAL_ERROR 0xC033
/* A device description whose node references lead back to a node being evaluated. */
#define GEV_STATUS_REFERENCE_CYCLE 0xC034

/* The name and meaning of a status, for messages: "GEV_STATUS_TIMEOUT (0xC008): ...". Unknown
 * codes give a text that says so with the code. The text is static; any thread may call this. */
KAVRO_API const char* GEVStatusText(GevStatus status);

/* Largest register counts of one command: 540 payload bytes. */
#define GEV_MAX_READ_REGISTERS 135
#define GEV_MAX_WRITE_REGISTERS 67

/* Detailed-log flags (GEVSetDetailedLog). */
#define GEV_LOG_PROTOCOL 0x01
#define GEV_LOG_STREAM_WARNINGS 0x02
#define GEV_LOG_STREAM_ERRORS 0x04
#define GEV_LOG_REGISTER_TRACE 0x08

/* Receives one finished log line of a device (no line end). The text is valid only during the
 * call; lines of one device may arrive from several threads at once. */
typedef void (*GevLogCallback)(uint8_t device, const char* line);

/* Told the progress (0..99 percent) of GEVReadMemory and GEVWriteMemory after each chunk. */
typedef void (*GevProgressCallback)(uint8_t device, int32_t percent);

/* Receives the library's debug trace lines (each ends in "\r\n"). */
typedef void (*GevTraceCallback)(const char* text);

/* Connection data for GEVInit, typically filled from a discovery entry. */
typedef struct GevConnectInfo {
    uint32_t deviceAddress; /* camera IPv4 address, network byte order */
    uint16_t streamPort;    /* local stream port, host order, 0 = any */
    uint16_t controlPort;   /* local control port, host order, 0 = any */
    uint32_t hostAddress;   /* local interface address, network byte order */
    uint32_t subnetMask;    /* local interface mask, network byte order */
    char adapterName[260];  /* zero-terminated adapter (interface) name */
} GevConnectInfo;

/* An asynchronous event of a camera, as handed to the message callback. The record and the data
 * it points to are valid only during the call. */
typedef struct GevEventInfo {
    uint16_t eventId;       /* event identifier */
    uint16_t streamChannel; /* stream channel index, its two bytes as they stand in the packet */
    uint64_t blockId;       /* 16-bit block id (standard form) or 64-bit (extended form) */
    uint64_t timestamp;     /* device ticks; GEVGetTimeOneTick gives the tick length */
    const uint8_t* data;    /* EVENTDATA: the event's data; EVENT: null */
    uint16_t dataLength;    /* EVENTDATA: bytes at data; EVENT: 0 */
} GevEventInfo;

/* Receives a camera event on the library's message-channel thread. */
typedef void (*GevMessageCallback)(uint8_t device, const GevEventInfo* event);

/* Timing of a device's control and stream channels, read and set together. */
typedef struct GevChannelParameter {
    uint32_t heartbeatPeriodMs;
    uint32_t transactionTimeoutMs;
    uint8_t retryCount;
    uint32_t streamTimeout;
    uint8_t maxResend;
    uint32_t imageTimeout;
} GevChannelParameter;

/* Connection states reported by GEVGetConnectionStatus. */
#define GEV_CONNECTION_OK 0
#define GEV_CONNECTION_LOST 1   /* heartbeats failing, still retried */
#define GEV_CONNECTION_FAILED 2 /* given up; register calls return 0x8006 */

/* One camera found by GEVDiscovery. */
typedef struct GevDeviceInfo {
    uint32_t deviceAddress;    /* camera address, network byte order */
    char manufacturerName[32]; /* zero-padded; not terminated when all 32 are used */
    char modelName[32];
    char deviceVersion[32];
    uint32_t adapterAddress; /* local adapter that got the answer, network byte order */
    uint32_t adapterMask;    /* its subnet mask, network byte order */
    uint8_t macAddress[6];   /* first byte first */
    uint32_t subnetMask;     /* camera's current mask, host byte order */
    uint32_t defaultGateway; /* camera's current gateway, host byte order */
    char adapterName[260];   /* zero-terminated */
    char serialNumber[16];   /* zero-padded; not terminated when all 16 are used */
    char userDefinedName[16];
    uint8_t status; /* GEV_DISCOVERY_* */
} GevDeviceInfo;

#define GEV_MAX_DISCOVERED 20
typedef struct GevDeviceList {
    uint8_t count;
    GevDeviceInfo devices[GEV_MAX_DISCOVERED];
} GevDeviceList;

/* Discovery entry states. */
#define GEV_DISCOVERY_AVAILABLE 0    /* reachable, nobody holds control */
#define GEV_DISCOVERY_UNREACHABLE 1  /* on the subnet, but the access probe failed */
#define GEV_DISCOVERY_OTHER_SUBNET 2 /* not on the adapter's subnet: needs Force IP */
#define GEV_DISCOVERY_CONTROLLED 3   /* another application holds control access */

/* Told the progress (0..100) of GEVDiscovery. */
typedef void (*GevDiscoveryCallback)(int32_t percent);

/* ---- Device open and close ------------------------------------------------------------- */

/* Opens `device` (1..20) on the camera described by `info`. `controlMode` is written to the
 * camera's CCP register and kept there by a heartbeat thread (1 = exclusive access, 2 = control
 * access); 0 opens without control: nothing is written and no thread is started. `log` receives
 * the device's log lines (may be null). `saveDescription` keeps a copy of a description read
 * from the camera, in the folder SavedDescriptions beside the library. Statuses: 0xC002 the index
 * is open (here or in another process), 0xC031 the camera is not on the subnet of `info`'s host
 * address and mask, 0xC02B the camera did not answer or refused control, 0xC003 a socket could
 * not be set up, 0xC00B a thread could not be started. Must not overlap any other call for the
 * same index. */
KAVRO_API GevStatus GEVInit(uint8_t device, const GevConnectInfo* info, GevLogCallback log,
                            uint8_t saveDescription, uint8_t controlMode);
/* Releases the camera and everything the open set up (control, threads, stream, description).
 * Always closes the index; the status tells of a failed release. Must not overlap any other
 * call for the same index, and must not be called from that device's callbacks. */
KAVRO_API GevStatus GEVClose(uint8_t device);
/* GEV_CONNECTION_OK, _LOST or _FAILED; `reserved` receives 0. */
KAVRO_API GevStatus GEVGetConnectionStatus(uint8_t device, uint8_t* status, uint8_t* reserved);
/* Sets the camera's heartbeat-disable bit and stops the heartbeat thread. */
KAVRO_API GevStatus GEVDisableHeartbeat(uint8_t device);
/* Nanoseconds per tick of the camera's timestamp counter. */
KAVRO_API GevStatus GEVGetTimeOneTick(uint8_t device, double* nanoseconds);

/* ---- Heartbeat, events, actions, channel timing ---------------------------------------- */

/* The camera's heartbeat time-out in milliseconds; setting it also sets the heartbeat period
 * to a third of it. */
KAVRO_API GevStatus GEVGetHeartbeatRate(uint8_t device, uint32_t* milliseconds);
KAVRO_API GevStatus GEVSetHeartbeatRate(uint8_t device, uint32_t milliseconds);
/* Routes the device's events to `callback` (null switches off); 0xC020 when the camera has no
 * message channel or lacks EVENT/EVENTDATA support. */
KAVRO_API GevStatus GEVSetMessageChannelCallback(uint8_t device, GevMessageCallback callback);
/* Sends an ACTION command and waits once for its acknowledge; `delaySeconds` > 0 schedules it
 * that many seconds ahead. */
KAVRO_API GevStatus GEVSetActionCommand(uint8_t device, uint32_t deviceKey, uint32_t groupKey,
                                        uint32_t groupMask, uint32_t delaySeconds);
/* The device's heartbeat period, transaction time-out and retries, stream time-out, resend
 * limit and image time-out, as one record; no camera traffic. */
KAVRO_API GevStatus GEVGetChannelParameter(uint8_t device, GevChannelParameter* parameters);
/* Sets all of them at once. A heartbeat period longer than the camera's time-out becomes the
 * time-out minus 200 ms. */
KAVRO_API GevStatus GEVSetChannelParameter(uint8_t device, const GevChannelParameter* parameters);

/* ---- Discovery and network configuration --------------------------------------------- */

/* Broadcasts DISCOVERY from every IPv4 adapter, listening `timeoutMs` (0 = 2000) on each, and
 * fills `list` with up to 20 cameras sorted by address. `allSubnets` also keeps cameras that are
 * not on the adapter's subnet (status 2). Any number of adapters is handled. `progress` (may be
 * null) is called on the calling thread. 0xC018 when the adapters can't be listed. Needs no
 * open device; any thread. */
KAVRO_API GevStatus GEVDiscovery(GevDeviceList* list, GevDiscoveryCallback progress,
                                 uint32_t timeoutMs, uint32_t allSubnets);
/* Gives the camera with `macAddress` (6 bytes) a temporary address; numbers in host byte order.
 * Address 0 makes the camera restart its IP configuration (sent once, no answer awaited). */
KAVRO_API GevStatus GEVForceIp(uint32_t address, uint32_t subnetMask, uint32_t gateway,
                               const uint8_t* macAddress);
/* The camera's persistent IP settings (host byte order); zeros when persistent IP is off. */
KAVRO_API GevStatus GEVGetNetConfig(uint8_t device, uint8_t* dhcp, uint32_t* address,
                                    uint32_t* subnetMask, uint32_t* gateway);
/* Changes the persistent IP settings; they take effect when the device is closed. */
KAVRO_API GevStatus GEVSetNetConfig(uint8_t device, uint8_t dhcp, uint32_t address,
                                    uint32_t subnetMask, uint32_t gateway);

/* ---- Device table ---------------------------------------------------------------------- */

/* Returns 0 when the device is open, else 0xC001. No other effect. */
KAVRO_API GevStatus debug_info(uint8_t device);

/* Size in bytes of the device's image memory block. */
KAVRO_API GevStatus GEVGetMemorySize(uint8_t device, uint32_t* size);
/* Resizes the image memory block; new bytes are zero. 0xC007 when there is no block yet or the
 * resize fails (the record then keeps its old block). */
KAVRO_API GevStatus GEVSetMemorySize(uint8_t device, uint32_t size);
/* Address of the image memory block plus offset. The offset is not checked. */
KAVRO_API GevStatus GEVGetPixelPtr(uint8_t device, uint32_t offset, uint8_t** address);

/* ---- Logging ---------------------------------------------------------------------------- */

/* The device's detailed-log flags (GEV_LOG_*): which extra lines the log callback gets. No camera
 * traffic; any thread. */
KAVRO_API GevStatus GEVSetDetailedLog(uint8_t device, uint8_t flags);
KAVRO_API GevStatus GEVGetDetailedLog(uint8_t device, uint8_t* flags);
/* Routes the library's debug trace lines to `callback`; null restores the default (syslog at
 * debug level). Process-wide. */
KAVRO_API GevStatus GEVSetDebugTraceCallback(GevTraceCallback callback);

/* ---- Control channel: registers and memory --------------------------------------------- */

/* Reads `count` (1..135) consecutive 32-bit registers from `address` into `values`. 0xC032 for
 * a count outside 1..135; a register the camera lacks gives its status (0x8003). */
KAVRO_API GevStatus GEVReadRegister(uint8_t device, uint32_t address, uint8_t count,
                                    uint32_t* values);
/* Writes `count` (1..67) consecutive registers. Returns 0 and sends nothing when the device was
 * opened without control. */
KAVRO_API GevStatus GEVWriteRegister(uint8_t device, uint32_t address, uint8_t count,
                                     const uint32_t* values);
/* Reads `length` bytes of device memory in chunks of at most 536 bytes. */
KAVRO_API GevStatus GEVReadMemory(uint8_t device, uint32_t address, uint32_t length, uint8_t* data);
/* Writes `length` bytes of device memory; 0xC020 when the device cannot write memory. */
KAVRO_API GevStatus GEVWriteMemory(uint8_t device, uint32_t address, uint32_t length,
                                   const uint8_t* data);
/* Progress of GEVReadMemory and GEVWriteMemory of this device (null switches it off); called on
 * the thread running the transfer, after each chunk. */
KAVRO_API GevStatus GEVSetReadWriteMemoryCallback(uint8_t device, GevProgressCallback callback);
/* Time-out of one transaction try and the number of tries. */
KAVRO_API GevStatus GEVSetReadWriteParameter(uint8_t device, uint32_t timeoutMs, uint8_t retries);
KAVRO_API GevStatus GEVGetReadWriteParameter(uint8_t device, uint32_t* timeoutMs, uint8_t* retries);

/* ---- Stream channel and images --------------------------------------------------------- */

/* Header of a delivered image (56 bytes). */
typedef struct GevImageHeader {
    uint64_t blockId;     /* stream block id (16 or 64 bits wide on the wire) */
    uint64_t timestamp;   /* device ticks, from the leader */
    uint32_t pixelFormat; /* pixel format code */
    uint32_t sizeX;       /* width in pixels; 0xFFFFFFFF for a block that is not an image */
    uint32_t sizeY;       /* height in lines as delivered; for a non-image block its bytes */
    uint32_t offsetX;
    uint32_t offsetY;
    uint16_t paddingX; /* bytes of padding after each line (removed by the copying calls) */
    uint16_t paddingY;
    uint32_t missingPackets; /* payload packets missing from the image */
    uint16_t payloadType;    /* stream payload type */
    uint16_t reserved;
    uint32_t chunkLength; /* trailer values */
    uint32_t chunkLayoutId;
} GevImageHeader;

/* Called by the secure-transfer receiver with the device index. */
typedef void (*GevSecureTransferCallback)(uint8_t device);

/* Opens the host side of stream channel 0 and points the camera at it. `hostAddress` (network
 * byte order) 0 keeps the address of the open; `port` 0 lets the system choose (the port used is
 * then written to the camera); `multicastGroup` (host byte order) 0 streams unicast. Without
 * control, port and destination are read back from the camera. */
KAVRO_API GevStatus GEVOpenStreamChannel(uint8_t device, uint32_t hostAddress, uint16_t port,
                                         uint32_t multicastGroup);
/* Switches the camera's stream channel off and closes the host socket; the status is that of
 * the register write. */
KAVRO_API GevStatus GEVCloseStreamChannel(uint8_t device);

/* Asks the camera to send packets `firstPacket`..`lastPacket` of `blockId` again. No answer is
 * awaited: 0 when the command was sent, 0xC004 when it could not be. Any thread. */
KAVRO_API GevStatus GEVPacketResend(uint8_t device, uint16_t channel, uint64_t blockId,
                                    uint32_t firstPacket, uint32_t lastPacket);

/* Starts reception: the ring of image buffers and the receiver thread, or, while the filter
 * driver is in use, the driver's stream (0xC019 or 0xC007 when the driver refuses it for an
 * invalid handle or lack of memory, 0xC011 otherwise). `frameCount` 0 streams
 * until stopped, n ends reception after n counted frames. Without a device description
 * `payloadSize` (bytes of one block) is required (0xC030 when 0) and the application starts the
 * camera itself. GEVAcquisitionStart is GEVAcquisitionStartEx with payload size 0. */
KAVRO_API GevStatus GEVAcquisitionStart(uint8_t device, uint32_t frameCount);
KAVRO_API GevStatus GEVAcquisitionStartEx(uint8_t device, uint32_t frameCount,
                                          uint32_t payloadSize);
/* Ends reception, frees the ring and logs the frame and packet statistics. */
KAVRO_API GevStatus GEVAcquisitionStop(uint8_t device);

/* Copying calls: wait up to the image time-out for the oldest unread image (0xC008 when none
 * comes), copy it without line padding and give its header (may be null). 0xC010: the image
 * was handed over with packets missing (data copied all the same). Destinations must hold the
 * payload size. GEVGetImage copies to the image memory block, grab_image to the block at
 * `offset` (and sets *size to the payload size, 0 when no image came). */
KAVRO_API GevStatus GEVGetImage(uint8_t device, GevImageHeader* header);
KAVRO_API GevStatus GEVGetImageBuffer(uint8_t device, GevImageHeader* header, void* destination);
KAVRO_API GevStatus grab_image(uint8_t device, uint32_t offset, uint32_t* size);
/* Header of the last image a copying call delivered. */
KAVRO_API GevStatus get_image_header(uint8_t device, GevImageHeader* header);

/* Application ring buffers: register buffers (each at least the payload size) before
 * acquisition start; the receiver then writes into them in registration order.
 * GEVGetImageRingBuffer hands out the index of the oldest unread image, which stays out of the
 * ring until GEVQueueRingBuffer gives it back (in hand-out order). GEVReleaseRingBuffer forgets
 * the registrations; the library never frees application buffers. `unused` is not read.
 * While the filter driver is in use these calls give 0xC020 (GEVGetImageRingBuffer too: the
 * driver hands out no entries, and a success with no index would be taken for an image). */
KAVRO_API GevStatus GEVSetRingBuffer(uint8_t device, uint32_t unused, void* buffer);
KAVRO_API GevStatus GEVGetImageRingBuffer(uint8_t device, GevImageHeader* header, uint8_t* index);
KAVRO_API GevStatus GEVQueueRingBuffer(uint8_t device, uint8_t index);
KAVRO_API GevStatus GEVReleaseRingBuffer(uint8_t device);
/* Frames per second; after a stop the rate of the last run. */
KAVRO_API GevStatus GEVGetImageFPS(uint8_t device, double* fps);

/* Number of ring entries the next acquisition start creates (1..256). */
KAVRO_API GevStatus GEVGetBufferCount(uint8_t device, uint16_t* count);
KAVRO_API GevStatus GEVSetBufferCount(uint8_t device, uint16_t count);
/* Ring entries that hold no unread image (the buffer count when no acquisition runs); 0xC020
 * while the filter driver, which keeps its own buffers, is in use. */
KAVRO_API GevStatus GEVGetFreeBufferCount(uint8_t device, uint16_t* count);

/* Packet resend on or off; 0xC020 when the camera lacks the resend capability. */
KAVRO_API GevStatus GEVGetPacketResend(uint8_t device, uint8_t* enabled);
KAVRO_API GevStatus GEVSetPacketResend(uint8_t device, int8_t enable);
/* Packets by which arrival may run ahead of the expected one before a resend is asked. */
KAVRO_API GevStatus GEVGetPacketsOutOfOrder(uint8_t device, uint8_t* window);
KAVRO_API GevStatus GEVSetPacketsOutOfOrder(uint8_t device, uint8_t window);
/* Test mode: packets first..first+count-1 of every block are treated as lost and asked again. */
KAVRO_API GevStatus GEVTestPacketResend(uint8_t device, int8_t enable, uint16_t first,
                                        uint16_t count);
/* Secure transfer (a second receiver, from the next start); switching it also switches resend,
 * and switching it on takes the device off the filter driver. */
KAVRO_API GevStatus GEVGetSecureTransfer(uint8_t device, uint8_t* on);
KAVRO_API GevStatus GEVSetSecureTransfer(uint8_t device, int8_t on,
                                         GevSecureTransferCallback callback);

/* ---- Filter driver ---- */

/* Opens the filter driver for the device and binds it to the adapter named at GEVInit; from
 * then on the device's stream goes through the driver (started, stopped, read and counted
 * there) instead of the library's receiver thread. 0xC00D when the driver can't be opened or
 * bound (on Linux the driver needs CAP_NET_RAW), with two log lines; streams then take the
 * socket path. 0xC020 while application ring buffers are registered. While the driver is in
 * use the buffer count, resend, out-of-order and resend-test settings are passed to it too
 * (0xC011 when it refuses; the setting is kept), and the copying calls read from it. */
KAVRO_API GevStatus GEVInitFilterDriver(uint8_t device);
/* Stops using the filter driver for the device; 0 also when it was not in use. */
KAVRO_API GevStatus GEVCloseFilterDriver(uint8_t device);
/* The open driver's version; both 0 and 0xC00D when it is not open, 0xC011 when it does not
 * answer. */
KAVRO_API GevStatus GEVGetFilterDriverVersion(uint8_t device, uint8_t* major, uint8_t* minor);

/* ---- Device description ---- */

/* One entry of a device's feature list: a category (isLeaf 0) or a feature (isLeaf 1) with its
 * nesting level (0 directly under the root category). The list is the library's; it stays valid
 * until the next description build or the device's close and must not be changed. */
typedef struct GevFeatureEntry {
    struct GevFeatureEntry* next; /* 0 at the end */
    uint32_t index;               /* 1-based position in the list */
    uint32_t reserved0;
    const char* name;
    uint8_t isLeaf;
    uint8_t level;
    uint8_t reserved1[6];
} GevFeatureEntry;

/* Logs "[INFO] - Get xml and parse it." and builds the feature model from the camera's
 * description (GEVSetXmlFile with no file name). */
KAVRO_API GevStatus GEVInitXml(uint8_t device);
/* Builds the feature model from the camera's description (`fileName` null) or from a host file
 * (a zip archive when the name contains ".zip"), then sizes the image memory block from the
 * feature PayloadSize. A camera whose URL is a web address (http:, https:) gives 0xC020 with a
 * log line. A text built before is taken from the user's cache of built descriptions. */
KAVRO_API GevStatus GEVSetXmlFile(uint8_t device, const char* fileName);
/* Fetches the camera's description (unzipped) and gives its size; the text is held for
 * GEVGetXmlFile, which copies it to *buffer (caller's memory of at least that size) and lets it
 * go. GEVGetXmlSize sets *size to 0 and returns the fetch's status when the fetch fails.
 * GEVGetXmlFile returns 0xC023 when the last fetch gave no text, 0xC022 when the text was
 * already handed out or used by a build, 0xC032 for a null buffer. Builds and fetches of one
 * process run one at a time; a second one waits. */
KAVRO_API GevStatus GEVGetXmlSize(uint8_t device, uint32_t* size);
KAVRO_API GevStatus GEVGetXmlFile(uint8_t device, void** buffer);
/* Folder searched for the schema and stylesheet files when the library's own folder lacks
 * them (default: the installed data folder). Null or empty restores the default. */
KAVRO_API GevStatus GEVSetDescriptionDataFolder(const char* folder);

/* Feature list head and deepest nesting level; 0xC02A (head 0, depth 0) before a description was
 * built. Does not require the index to be open; 0xC032 for a null pointer. */
KAVRO_API GevStatus GEVGetFeatureList(uint8_t device, GevFeatureEntry** head, uint8_t* maxDepth);
/* Navigation by 1-based positions: roots (level 0), their features (level 1), sub-features
 * (level 2) and sub-sub-features (level 3). Names are cut to `length` characters and a
 * terminator is written after them (the buffer holds length + 1 bytes). Counts wrap modulo 256.
 * 0xC001 for an index that is not open, then 0x8002 for a position of 0, a null buffer or a
 * length of 0 or above 2^31 - 1, then 0xC02A before a description was built, and 0x8002 for a
 * position beyond the entries of its level; 0xC032 for a null count. Outputs are written only on
 * success. Any thread; not while the device's description is rebuilt. */
KAVRO_API GevStatus get_root_count(uint8_t device, uint8_t* count);
KAVRO_API GevStatus get_root_name(uint8_t device, uint8_t root, char* buffer, int32_t length);
KAVRO_API GevStatus get_feature_count(uint8_t device, uint8_t root, uint8_t* count);
KAVRO_API GevStatus get_feature_name(uint8_t device, uint8_t root, uint8_t feature, char* buffer,
                                     uint32_t length);
KAVRO_API GevStatus get_sub_feature_count(uint8_t device, uint8_t root, uint8_t feature,
                                          uint8_t* count);
KAVRO_API GevStatus get_sub_feature_name(uint8_t device, uint8_t root, uint8_t feature, uint8_t sub,
                                         char* buffer, uint32_t length);
KAVRO_API GevStatus get_subsub_feature_count(uint8_t device, uint8_t root, uint8_t feature,
                                             uint8_t sub, uint8_t* count);
KAVRO_API GevStatus get_subsub_feature_name(uint8_t device, uint8_t root, uint8_t feature,
                                            uint8_t sub, uint8_t subsub, char* buffer,
                                            uint32_t length);

/* ---- Feature access ---- */

/* Node kinds reported in GevFeatureParameter.kind. */
#define GEV_FEATURE_CATEGORY 0
#define GEV_FEATURE_INTEGER 2 /* Integer, IntReg, MaskedIntReg, IntSwissKnife, IntConverter */
#define GEV_FEATURE_FLOAT 3   /* Float, FloatReg, SwissKnife, Converter */
#define GEV_FEATURE_STRING 4
#define GEV_FEATURE_ENUMERATION 5
#define GEV_FEATURE_COMMAND 6
#define GEV_FEATURE_BOOLEAN 7
#define GEV_FEATURE_REGISTER 8
#define GEV_FEATURE_PORT 9

/* Access modes: two ASCII letters, the first in the high byte; 0 = not given. */
#define GEV_ACCESS_RO 0x524F
#define GEV_ACCESS_RW 0x5257
#define GEV_ACCESS_WO 0x574F

/* Longest transfer of GEVGetFeatureRegister and GEVSetFeatureRegister (64 MiB). */
#define GEV_MAX_FEATURE_REGISTER_LENGTH 0x4000000u
/* Longest device string of GEVGetFeatureString and GEVSetFeatureString (64 KiB). */
#define GEV_MAX_FEATURE_STRING_LENGTH 0x10000u

/* Description of one feature, filled by GEVGetFeatureParameter (104 bytes, little endian). Every
 * byte not named here, reserved ones included, is zero. */
typedef struct GevFeatureParameter {
    uint8_t kind; /* GEV_FEATURE_* of the named node */
    uint8_t reserved0[7];
    int64_t min;             /* minimum, integer form */
    int64_t max;             /* maximum, integer form (4294967295 when an integer gives none) */
    uint32_t onValue;        /* value that switches a Boolean on */
    uint32_t offValue;       /* value that switches it off */
    uint16_t accessMode;     /* GEV_ACCESS_*, 0 when neither the node nor its data holder says */
    uint16_t representation; /* 0 Linear, 1 Logarithmic, 2 Boolean, 3 PureNumber, 4 HexNumber,
                                5 not given */
    uint32_t inc;            /* increment, integer form (integer-like features) */
    uint32_t commandValue;   /* value that GEVSetFeatureCommand writes to execute the command */
    uint32_t length;         /* length in bytes (registers and strings) */
    uint8_t enumEntries;     /* available entries of an enumeration */
    uint8_t visibility;      /* 0 Invisible, 1 Beginner, 2 Expert, 3 Guru */
    uint8_t reserved1[6];
    double floatMin; /* minimum, float form (-9223372036854775808.0 when a float gives none) */
    double floatMax; /* maximum, float form (9223372036854775808.0 when a float gives none) */
    double floatInc; /* increment, float form (float features) */
    uint8_t implemented;
    uint8_t available;
    uint8_t locked;
    uint8_t sign;             /* 1 signed, 0 unsigned */
    uint32_t address;         /* register address */
    uint8_t displayNotation;  /* 0 Automatic, 1 Fixed, 2 Scientific */
    uint8_t displayPrecision; /* digits after the point */
    uint8_t invalidators;     /* number of invalidating features (GEVGetFeatureInvalidator) */
    uint8_t reserved2[5];
    uint64_t pollingTime; /* milliseconds */
} GevFeatureParameter;

/* Features are named by their name or their symbolic name in the device's description (built by
 * GEVInitXml or GEVSetXmlFile; before that every call here returns 0xC01D, except
 * GEVGetFeatureEnableStatus). The calls do not check the feature's kind: choose the call from the
 * kind GEVGetFeatureParameter reports. Text results are cut to `size` characters as each call
 * says; their buffer holds size + 1 bytes. 0xC01D: the feature (or a node it refers to) does not
 * exist or is not implemented; 0xC01E: a formula of the description failed (logged); 0xC034: the
 * description's references form a cycle (logged); 0xC032: a null pointer, a negative size, or a
 * length beyond the limits above. The library runs the feature calls of one device one after
 * another; they must not overlap a rebuild of that device's description. */

/* The feature's value as an integer, a float, or the low 32 bits of its integer value (Boolean:
 * compare with onValue/offValue of GevFeatureParameter). */
KAVRO_API GevStatus GEVGetFeatureInteger(uint8_t device, const char* name, uint64_t* value);
KAVRO_API GevStatus GEVGetFeatureFloat(uint8_t device, const char* name, double* value);
KAVRO_API GevStatus GEVGetFeatureBoolean(uint8_t device, const char* name, uint32_t* value);
KAVRO_API GevStatus GEVGetFeatureCommand(uint8_t device, const char* name, uint32_t* value);
/* Writes the feature's value. Limits are not checked. Boolean: pass onValue or offValue;
 * Command: pass commandValue (both from GevFeatureParameter). */
KAVRO_API GevStatus GEVSetFeatureInteger(uint8_t device, const char* name, int64_t value);
KAVRO_API GevStatus GEVSetFeatureFloat(uint8_t device, const char* name, double value);
KAVRO_API GevStatus GEVSetFeatureBoolean(uint8_t device, const char* name, uint32_t value);
KAVRO_API GevStatus GEVSetFeatureCommand(uint8_t device, const char* name, uint32_t value);

/* The entry text of an enumeration's current value, cut to `size` characters and terminated.
 * A value without entry gives the entry of value 0; without that too the text is empty and the
 * call returns 0xC01F. */
KAVRO_API GevStatus GEVGetFeatureEnumeration(uint8_t device, const char* name, char* buffer,
                                             int32_t size);
/* The text of the enumeration's available entry at `position` (from 0), cut to `size` characters
 * and terminated. Returns 0 and leaves the buffer as it was when there are not that many. */
KAVRO_API GevStatus GEVGetFeatureEnumerationName(uint8_t device, const char* name, uint8_t position,
                                                 char* buffer, int32_t size);
/* Selects the entry given by its text (as GEVGetFeatureEnumeration reports it) or its full entry
 * name ("EnumEntry_<feature>_<text>"); 0xC01F when the enumeration has no such entry. */
KAVRO_API GevStatus GEVSetFeatureEnumeration(uint8_t device, const char* name, const char* entry);

/* A string feature. Kept in device memory: exactly `length` bytes (GevFeatureParameter) are
 * copied, with no terminator added; otherwise the text with its terminator. The buffer has no
 * size argument and must hold the feature's length plus one. Setting a device string writes the
 * text zero-padded (or cut) to the feature's length. */
KAVRO_API GevStatus GEVGetFeatureString(uint8_t device, const char* name, char* buffer);
KAVRO_API GevStatus GEVSetFeatureString(uint8_t device, const char* name, const char* text);
/* `length` bytes of a register feature's device memory, as on the wire. A register that is not
 * in device memory, or is write-only (get) or read-only (set), transfers nothing and gives 0. */
KAVRO_API GevStatus GEVGetFeatureRegister(uint8_t device, const char* name, uint32_t length,
                                          void* data);
KAVRO_API GevStatus GEVSetFeatureRegister(uint8_t device, const char* name, uint32_t length,
                                          const void* data);

/* Display name, tool tip and unit of a feature; 0xC01F when the description gives none. A text
 * longer than `size` is cut to `size` bytes WITHOUT a terminator; otherwise it is copied with
 * its terminator. */
KAVRO_API GevStatus GEVGetFeatureDisplayName(uint8_t device, const char* name, char* buffer,
                                             int32_t size);
KAVRO_API GevStatus GEVGetFeatureTooltip(uint8_t device, const char* name, char* buffer,
                                         int32_t size);
KAVRO_API GevStatus GEVGetFeatureUnit(uint8_t device, const char* name, char* buffer, int32_t size);
/* The name of the feature's invalidator at `position` (from 0), cut to `size` characters and
 * terminated; 0xC01D when it has none; 0 with the buffer as it was for a position past the
 * last. */
KAVRO_API GevStatus GEVGetFeatureInvalidator(uint8_t device, const char* name, uint8_t position,
                                             char* buffer, int32_t size);
/* 1 when the feature can be changed now (available, not locked, not read-only), else 0. A
 * feature that does not exist gives 0 and leaves *enabled as it was. */
KAVRO_API GevStatus GEVGetFeatureEnableStatus(uint8_t device, const char* name, uint8_t* enabled);
/* Limits, access, representation and the other properties of a feature. May update the access
 * mode and sign its data holder takes from the registers behind it. */
KAVRO_API GevStatus GEVGetFeatureParameter(uint8_t device, const char* name,
                                           GevFeatureParameter* parameter);

/* ---- Camera convenience, serial bridge and look-up table ---- */

/* Common camera settings through the standard features of the device's description (built by
 * GEVInitXml or GEVSetXmlFile). Each call is a fixed sequence of the feature calls above; a
 * failing step's status is returned unchanged, and outputs stored before it keep their values.
 * A null output pointer gives 0xC032. The exposure calls need the feature AutoExposureControl
 * (0xC017 without it), the gain calls AutoGainControl (0xC016 without it); its value is not
 * used. The calls take no lock of their own: run the calls of one device that change the same
 * features (and the serial bridge calls) from one thread at a time. */

/* ExposureTime (low 32 bits) and its integer limits. */
KAVRO_API GevStatus LumexGetExposureTime(uint8_t device, uint32_t* time);
KAVRO_API GevStatus LumexGetExposureTimeMinMax(uint8_t device, uint32_t* min, uint32_t* max);
/* Writes ExposureTime, lowered to its maximum when larger; no lower bound is applied. */
KAVRO_API GevStatus LumexSetExposureTime(uint8_t device, uint32_t time);
/* Writes AutoExposureControl's OnValue when `on` is not 0, else its OffValue. */
KAVRO_API GevStatus LumexSetExposureTimeAuto(uint8_t device, uint8_t on);
/* GlobalGain (low 8 bits) and its integer limits (low 8 bits each). */
KAVRO_API GevStatus LumexGetGain(uint8_t device, uint8_t* gain);
KAVRO_API GevStatus LumexGetGainMinMax(uint8_t device, uint8_t* min, uint8_t* max);
/* Writes GlobalGain, lowered to its maximum when larger. */
KAVRO_API GevStatus LumexSetGain(uint8_t device, uint8_t gain);
/* Writes AutoGainControl's OnValue when `on` is not 0, else its OffValue. */
KAVRO_API GevStatus LumexSetGainAuto(uint8_t device, uint8_t on);
/* The image window: read and written width first, then height, offset x, offset y. Setting a
 * width that is not a multiple of 4 returns 3 (GEV_STATUS_WIDTH_NOT_MULTIPLE_OF_4) and writes
 * nothing. */
KAVRO_API GevStatus LumexGetVideoWindow(uint8_t device, uint16_t* offsetX, uint16_t* offsetY,
                                        uint16_t* width, uint16_t* height);
KAVRO_API GevStatus LumexSetVideoWindow(uint8_t device, uint16_t offsetX, uint16_t offsetY,
                                        uint16_t width, uint16_t height);
/* WidthMax and HeightMax. */
KAVRO_API GevStatus LumexGetMaxVideoWindow(uint8_t device, uint16_t* widthMax, uint16_t* heightMax);
/* PixelFormat as its GigE Vision pixel format code. */
KAVRO_API GevStatus LumexGetPixelFormat(uint8_t device, uint32_t* format);

/* State of the Camera Link serial port behind the camera, one byte each, in this order. */
typedef struct GevClinkStatus {
    uint8_t receiveCount;          /* received bytes waiting */
    uint8_t transmitCount;         /* bytes in the transmit buffer */
    uint8_t transmitOverflow;      /* 0/1 */
    uint8_t transmitDataAvailable; /* 0/1 */
    uint8_t receiveOverflow;       /* 0/1 */
    uint8_t receiveDataAvailable;  /* 0/1 */
} GevClinkStatus;

/* Sets the serial rate (CLSerialBaudrate) and picks the bridge's features for this device: the
 * word-wise SendCLSerial/ReceiveCLSerial/StatusCLSerial when a read of ReceiveCLSerial succeeds
 * (on most cameras that read takes up to four waiting bytes off the port), else the buffered
 * TXData/RXData features. Until it is called the buffered features are used. */
KAVRO_API GevStatus LumexInitClinkSerial(uint8_t device, uint32_t baudRate);
/* Counts and flags of the serial port; 0xC008 while the control link is lost or failed. */
KAVRO_API GevStatus LumexGetClinkStatus(uint8_t device, GevClinkStatus* status);
/* Sends `length` bytes. 0xC01B when a send step fails or the transmit buffer overflows; 0xC032
 * when `length` exceeds the camera's TXData buffer (nothing is sent). */
KAVRO_API GevStatus LumexSendClink(uint8_t device, uint16_t length, const uint8_t* data);
/* Takes at most `capacity` waiting bytes into `data` and stores their number in *received
 * (never more than `capacity`, nor more than the camera's RXData buffer). 0xC01C when a receive
 * step fails; *received is then left as it was. */
KAVRO_API GevStatus LumexReceiveClink(uint8_t device, uint16_t capacity, uint8_t* data,
                                      uint16_t* received);
/* One 8-bit value of the pixel look-up table, through LUTIndex and LUTEntry: the increment of
 * LUTIndex is the number of values per entry word, the first in its least significant byte.
 * An increment of 0 or above 8 gives 0xC020 (logged) and touches nothing. Setting writes back
 * the entry's four low bytes, or the whole entry word when the increment is above 4. */
KAVRO_API GevStatus LumexGetLut(uint8_t device, uint16_t position, uint8_t* value);
KAVRO_API GevStatus LumexSetLut(uint8_t device, uint16_t position, uint8_t value);

/* ---- Stream network tests ---- */

/* Fires one test packet (bit 31 of SCPS0, with "do not fragment") and receives it on the open
 * stream channel's socket, or, with no stream channel open, on a temporary socket whose port is
 * written to SCP0 (and stays there). *packetSize = the size of the IP packet that carried it;
 * 0, with status 0, when none came within the control channel's time-out. When the camera's
 * capability says its test data follows the test data sequence, every byte is checked:
 * 0xC02C on a mismatch. Meant for a device without a running acquisition; takes no lock. */
KAVRO_API GevStatus GEVTestPacket(uint8_t device, uint32_t* packetSize);
/* Searches by repeated test packets the largest packet size (SCPS0) that passes the network
 * path: sizes lower + 0 .. min(upper, MTU of the host adapter), upper 0 meaning 20000, in
 * multiples of `step` (0 and 1 mean 4). SCPS0 keeps the last size tried. *maxPacketSize = 0 when
 * none passed; 0xC008 when the search took longer than 5 s; a refused register access gives its
 * status, except 0x8002 on the SCPS0 write, which counts as a size that failed. */
KAVRO_API GevStatus GEVTestFindMaxPacketSize(uint8_t device, uint16_t* maxPacketSize,
                                             uint16_t lower, uint16_t upper, uint16_t step);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) && UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
/* Layouts applications rely on. */
#include <cstddef>
static_assert(sizeof(GevFeatureEntry) == 32);
static_assert(offsetof(GevFeatureEntry, index) == 8);
static_assert(offsetof(GevFeatureEntry, name) == 16);
static_assert(offsetof(GevFeatureEntry, isLeaf) == 24);
static_assert(offsetof(GevFeatureEntry, level) == 25);
static_assert(sizeof(GevFeatureParameter) == 104);
static_assert(offsetof(GevFeatureParameter, min) == 8);
static_assert(offsetof(GevFeatureParameter, max) == 16);
static_assert(offsetof(GevFeatureParameter, onValue) == 24);
static_assert(offsetof(GevFeatureParameter, offValue) == 28);
static_assert(offsetof(GevFeatureParameter, accessMode) == 32);
static_assert(offsetof(GevFeatureParameter, representation) == 34);
static_assert(offsetof(GevFeatureParameter, inc) == 36);
static_assert(offsetof(GevFeatureParameter, commandValue) == 40);
static_assert(offsetof(GevFeatureParameter, length) == 44);
static_assert(offsetof(GevFeatureParameter, enumEntries) == 48);
static_assert(offsetof(GevFeatureParameter, visibility) == 49);
static_assert(offsetof(GevFeatureParameter, floatMin) == 56);
static_assert(offsetof(GevFeatureParameter, floatMax) == 64);
static_assert(offsetof(GevFeatureParameter, floatInc) == 72);
static_assert(offsetof(GevFeatureParameter, implemented) == 80);
static_assert(offsetof(GevFeatureParameter, available) == 81);
static_assert(offsetof(GevFeatureParameter, locked) == 82);
static_assert(offsetof(GevFeatureParameter, sign) == 83);
static_assert(offsetof(GevFeatureParameter, address) == 84);
static_assert(offsetof(GevFeatureParameter, displayNotation) == 88);
static_assert(offsetof(GevFeatureParameter, displayPrecision) == 89);
static_assert(offsetof(GevFeatureParameter, invalidators) == 90);
static_assert(offsetof(GevFeatureParameter, pollingTime) == 96);
static_assert(sizeof(GevClinkStatus) == 6);
#endif

#endif /* KAVRO_GIGE_VISION_LIB_H */
