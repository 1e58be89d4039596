#include "filterengine/engine.h"

#include "filterdriver/filter_device.h"
#include "frame/device_table.h"
#include "gvsp/receiver.h"

namespace kavro::filterengine {

namespace {

constexpr uint32_t kInvalidHandle = filterdriver::kErrorInvalidHandle;
constexpr int64_t kNsPerMs = 1000000;

// Resend requests go out on the control channel of the library's open device, as on the socket
// path; only while that device is open here and is the camera the stream comes from.
gvsp::ResendSender resendThrough(uint8_t device, uint32_t cameraAddressNet) {
    std::shared_ptr<frame::GevDevice> record = frame::DeviceTable::instance().record(device);
    return
        [record, cameraAddressNet](uint64_t blockId, uint32_t first, uint32_t last, bool extended) {
            if (!record || !record->openHere.load() || record->deviceAddress != cameraAddressNet)
                return false;
            return gvsp::sendPacketResend(*record, extended, 0, blockId, first, last) ==
                   GEV_STATUS_SUCCESS;
        };
}

// The library's log of that device receives the assembler's lines, as on the socket path.
void followLibraryRecord(frame::GevDevice& settings, uint8_t device) {
    settings.deviceIndex = device;
    const auto record = frame::DeviceTable::instance().record(device);
    settings.logCallback = record ? record->logCallback.load() : nullptr;
    settings.detailedLog = record ? record->detailedLog.load() : uint8_t{0};
    settings.gevVersionMajor = record ? record->gevVersionMajor : 0;
}

}  // namespace

Engine& Engine::instance() {
    static Engine engine;
    return engine;
}

Engine::~Engine() {
    for (Slot& s : slots_) {
        std::lock_guard lock(s.lock);
        stopLocked(s);
    }
}

Engine::Slot* Engine::slot(uint8_t device) {
    if (device == 0 || device > slots_.size())
        return nullptr;
    return &slots_[device - 1];
}

void Engine::ensureSettings(Slot& s) {
    if (!s.settings)
        s.settings = std::make_shared<frame::GevDevice>();
}

void Engine::stopLocked(Slot& s) {
    if (s.stream)
        s.stream->stop();
    s.stream.reset();
    s.owner = nullptr;
}

template <class Use>
uint32_t Engine::withSlot(uint8_t device, Use use) {
    Slot* s = slot(device);
    if (s == nullptr)
        return filterdriver::kErrorInvalidParameter;
    std::lock_guard lock(s->lock);
    return use(*s);
}

template <class Change>
uint32_t Engine::withSettings(uint8_t device, Change change) {
    return withSlot(device, [&](Slot& s) {
        ensureSettings(s);
        change(s);
        return 0u;
    });
}

template <class Use>
uint32_t Engine::withKnownSlot(uint8_t device, Use use) {
    return withSlot(device,
                    [&](Slot& s) -> uint32_t { return s.settings ? use(s) : kInvalidHandle; });
}

uint32_t Engine::startStream(const StartStream& start, int interfaceIndex, const void* owner) {
    Slot* s = slot(start.device);
    if (s == nullptr)
        return filterdriver::kErrorInvalidParameter;
    std::lock_guard lock(s->lock);
    ensureSettings(*s);
    stopLocked(*s);
    s->lastHeader = GevImageHeader{};
    s->lastHandOverNs = 0;
    s->intervalCount = 0;
    s->intervalSumNs = 0;
    followLibraryRecord(*s->settings, start.device);
    uint32_t error = 0;
    auto stream = RingStream::start(start, interfaceIndex, s->bufferCount, s->settings,
                                    resendThrough(start.device, start.deviceAddressNet), error);
    if (!stream)
        return error;
    s->stream = std::move(stream);
    s->owner = owner;
    return 0;
}

uint32_t Engine::stopStream(uint8_t device) {
    return withKnownSlot(device, [](Slot& s) {
        stopLocked(s);
        return 0u;
    });
}

void Engine::stopStreamsOf(const void* owner) {
    for (Slot& s : slots_) {
        std::lock_guard lock(s.lock);
        if (s.stream && s.owner == owner)
            stopLocked(s);
    }
}

uint32_t Engine::setPacketResend(uint8_t device, bool on) {
    return withSettings(device, [&](Slot& s) { s.settings->resendEnabled = on ? 1 : 0; });
}

uint32_t Engine::setOutOfOrderWindow(uint8_t device, uint8_t window) {
    return withSettings(device, [&](Slot& s) { s.settings->outOfOrderWindow = window; });
}

uint32_t Engine::setBufferCount(uint8_t device, uint16_t count) {
    if (count == 0 || count > gvsp::kMaxRingEntries)
        return filterdriver::kErrorInvalidParameter;
    return withSettings(device, [&](Slot& s) { s.bufferCount = count; });  // from the next start
}

uint32_t Engine::setTestResend(uint8_t device, uint16_t first, uint16_t count) {
    return withSettings(device, [&](Slot& s) {
        s.settings->testResendFirst = first;
        s.settings->testResendCount = count;
    });
}

uint32_t Engine::statistics(uint8_t device, Statistics& out) {
    return withKnownSlot(device, [&](Slot& s) {
        const auto& c = s.settings->counters;
        out.framesReceived = c.framesTotal.load();
        out.framesWithErrors = c.framesLost.load();
        out.packetErrors = c.packetsLost.load();
        out.intervalCount = s.intervalCount;
        out.intervalSumMs = (s.intervalSumNs + kNsPerMs / 2) / kNsPerMs;
        return 0u;
    });
}

uint32_t Engine::lastImageHeader(uint8_t device, GevImageHeader& out) {
    return withKnownSlot(device, [&](Slot& s) {
        out = s.lastHeader;
        return 0u;
    });
}

uint32_t Engine::readImage(uint8_t device, std::span<uint8_t> dest) {
    Slot* s = slot(device);
    if (s == nullptr)
        return filterdriver::kErrorInvalidParameter;
    std::shared_ptr<RingStream> stream;
    {
        std::lock_guard lock(s->lock);
        if (!s->settings)
            return kInvalidHandle;
        stream = s->stream;
    }
    if (!stream)
        return filterdriver::kErrorSemaphoreTimeout;
    const RingStream::Delivery d = stream->read(dest);
    if (!d.delivered)
        return d.error;
    std::lock_guard lock(s->lock);
    s->lastHeader = d.header;
    if (s->stream == stream) {
        if (s->lastHandOverNs != 0 && d.handedOverNs > s->lastHandOverNs) {
            ++s->intervalCount;
            s->intervalSumNs += static_cast<uint64_t>(d.handedOverNs - s->lastHandOverNs);
        }
        s->lastHandOverNs = d.handedOverNs;
    }
    return d.error;
}

}  // namespace kavro::filterengine
