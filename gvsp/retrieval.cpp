#include "gvsp/retrieval.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>

#include "filterdriver/requests.h"
#include "frame/log.h"
#include "gvsp/acquisition.h"
#include "gvsp/wire.h"
#include "platform/trace.h"

namespace kavro::gvsp {

static_assert(sizeof(GevImageHeader) == 56);
static_assert(offsetof(GevImageHeader, missingPackets) == 40);
static_assert(offsetof(GevImageHeader, chunkLength) == 48);

using frame::GevDevice;

namespace {
constexpr uint32_t kNotAnImage = 0xFFFFFFFF;
}

void copyImageData(const GevDevice& dev, RingEntry& e, uint32_t payloadSize, uint8_t* dst) {
    const uint8_t* src = e.data;
    const uint64_t line = uint64_t{bytesPerPixel(e.pixelFormat)} * e.sizeX;
    if (e.sizeX == kNotAnImage) {
        const uint64_t n = std::min<uint64_t>(e.sizeY, payloadSize);
        std::memcpy(dst, src, n);
        return;
    }
    const uint32_t lines = std::min(e.sizeY, e.trailerSizeY);
    if (e.paddingX != 0) {
        const uint64_t stride = line + e.paddingX;
        uint64_t out = 0;
        for (uint32_t y = 0; y < lines; ++y) {
            const uint64_t in = y * stride;
            // Lines are copied only while both the source and the destination hold them.
            if (in + line > payloadSize || out + line > payloadSize) {
                if ((dev.detailedLog.load() & GEV_LOG_PROTOCOL) != 0) {
                    frame::gevLogf(dev, "[INFO] - Wrong value of Padding X: %d", e.paddingX);
                }
                break;
            }
            std::memcpy(dst + out, src + in, line);
            out += line;
        }
        if (lines < e.sizeY) {
            const uint64_t end = std::min<uint64_t>(line * e.sizeY, payloadSize);
            if (end > out)
                std::memset(dst + out, 0, end - out);
            e.sizeY = lines;
        }
        return;
    }
    if (e.sizeY == e.trailerSizeY || e.trailerSizeY > e.sizeY) {
        std::memcpy(dst, src, payloadSize);
        return;
    }
    // The trailer reported fewer lines: those are delivered, zeros after them.
    const uint64_t n = std::min<uint64_t>(uint64_t{e.trailerSizeY} * line, payloadSize);
    std::memcpy(dst, src, n);
    std::memset(dst + n, 0, payloadSize - n);
    e.sizeY = e.trailerSizeY;
}

void keepChunkData(GevDevice& dev, const RingEntry& e) {
    const uint64_t end = std::min<uint64_t>(e.chunkOffset + e.chunkBytes, dev.geometry.payloadSize);
    if (e.chunkBytes == 0 || e.chunkOffset >= end) {
        dev.lastChunkData.clear();
        return;
    }
    dev.lastChunkData.store(std::span<const uint8_t>(e.data + e.chunkOffset, end - e.chunkOffset));
}

void fillHeader(const RingEntry& e, GevImageHeader& h) {
    h = GevImageHeader{};
    h.blockId = e.blockId;
    h.timestamp = e.timestamp;
    h.pixelFormat = e.pixelFormat;
    h.sizeX = e.sizeX;
    h.sizeY = e.sizeY;
    h.offsetX = e.offsetX;
    h.offsetY = e.offsetY;
    h.paddingX = e.paddingX;
    h.paddingY = e.paddingY;
    h.missingPackets = e.missingPackets;
    h.payloadType = e.payloadType;
    h.chunkLength = e.chunkLength;
    h.chunkLayoutId = e.chunkLayoutId;
}

namespace {

// The copying calls on the filter driver path: the driver delivers the payload as it is and
// describes it in its own header.
GevStatus readDriverImage(GevDevice& dev, filterdriver::FilterDevice& driver, uint32_t* size,
                          GevImageHeader* header, uint8_t* dst) {
    const uint32_t payloadSize = dev.geometry.payloadSize;
    const GevStatus read =
        payloadSize == 0 ? GEV_STATUS_TIMEOUT
                         : filterdriver::readImage(driver, dev.deviceIndex, {dst, payloadSize});
    if (read == GEV_STATUS_TIMEOUT) {
        if (header != nullptr)
            *header = GevImageHeader{};
        return GEV_STATUS_TIMEOUT;
    }
    dev.lastChunkData.clear();
    GevImageHeader h{};
    const GevStatus described = filterdriver::sendGetImageHeader(driver, dev.deviceIndex, h);
    if (header != nullptr)
        *header = h;
    dev.lastImageHeader = h;
    if (size != nullptr)
        *size = payloadSize;
    // A failed read keeps its status whatever the header says, and an image the driver reports
    // with packets missing is incomplete even when the read itself succeeded.
    if (read != GEV_STATUS_SUCCESS)
        return read;
    if (described != GEV_STATUS_SUCCESS)
        return described;
    return h.missingPackets != 0 ? GEV_STATUS_IMAGE_INCOMPLETE : GEV_STATUS_SUCCESS;
}

}  // namespace

GevStatus copyImage(GevDevice& dev, uint32_t offset, uint32_t* size, GevImageHeader* header,
                    void* destination) {
    std::lock_guard streamLock(dev.streamLock);
    if (size != nullptr)
        *size = 0;
    const uint32_t payloadSize = dev.geometry.payloadSize;
    uint8_t* dst = static_cast<uint8_t*>(destination);
    if (dst == nullptr) {
        // The image memory block must hold the image at that offset.
        if (!dev.imageMemory.exists() || uint64_t{offset} + payloadSize > dev.imageMemory.size()) {
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        dst = dev.imageMemory.data() + offset;
    }
    if (const auto driver = filterdriver::driverInUse(dev))
        return readDriverImage(dev, *driver, size, header, dst);
    const auto acquisition = currentAcquisition(dev);
    if (!acquisition)
        return GEV_STATUS_TIMEOUT;
    ImageRing& ring = *acquisition->ring;
    RingEntry* e = ring.acquireForRead(std::chrono::milliseconds(dev.imageTimeout.load()));
    if (e == nullptr)
        return GEV_STATUS_TIMEOUT;
    copyImageData(dev, *e, payloadSize, dst);
    keepChunkData(dev, *e);
    GevImageHeader h;
    fillHeader(*e, h);
    const GevStatus status = e->status;
    if (header != nullptr)
        *header = h;
    dev.lastImageHeader = h;
    (void)ring.release(e);
    if (size != nullptr)
        *size = payloadSize;
    return status;
}

GevStatus getImageRingBuffer(GevDevice& dev, GevImageHeader* header, uint8_t* index) {
    std::lock_guard streamLock(dev.streamLock);
    // The driver keeps its images to itself: nothing to hand out. Refused like the other
    // ring-buffer calls, so that no caller takes the untouched index for an image.
    if (filterdriver::driverInUse(dev))
        return GEV_STATUS_NOT_SUPPORTED;
    const auto acquisition = currentAcquisition(dev);
    if (!acquisition)
        return GEV_STATUS_TIMEOUT;
    RingEntry* e =
        acquisition->ring->acquireForRead(std::chrono::milliseconds(dev.imageTimeout.load()));
    if (e == nullptr)
        return GEV_STATUS_TIMEOUT;
    keepChunkData(dev, *e);
    if (header != nullptr)
        fillHeader(*e, *header);
    if (index != nullptr)
        *index = e->index;
    return e->status;
}

GevStatus queueRingBuffer(GevDevice& dev, uint8_t index) {
    if (filterdriver::driverInUse(dev))
        return GEV_STATUS_NOT_SUPPORTED;
    const auto acquisition = currentAcquisition(dev);
    if (!acquisition)
        return GEV_STATUS_INVALID_ARGUMENT;
    // Only an entry that was handed out can come back.
    return acquisition->ring->release(acquisition->ring->entry(index))
               ? GEV_STATUS_SUCCESS
               : GEV_STATUS_INVALID_ARGUMENT;
}

GevStatus imageFps(GevDevice& dev, double& fps) {
    auto& c = dev.counters;
    if (dev.acquisitionStopped.load() != 0 && c.fps.load() != 0.0) {
        fps = c.fps.load();
        return GEV_STATUS_SUCCESS;
    }
    // The driver measures its frame intervals in milliseconds.
    if (const auto driver = filterdriver::driverInUse(dev)) {
        filterdriver::DriverStatistics stats;
        if (const GevStatus s = filterdriver::sendGetStatistics(*driver, dev.deviceIndex, stats))
            return s;
        c.fpsWindowFrames = stats.intervalCount;
        c.fpsWindowTicks = stats.intervalSumMs;
        fps = filterdriver::framesPerSecond(stats.intervalCount, stats.intervalSumMs);
        c.fps = fps;
        return GEV_STATUS_SUCCESS;
    }
    const uint32_t frames = c.fpsWindowFrames.load();
    const double frequency = static_cast<double>(c.fpsFrequency.load());
    double value = 0.0;
    if (frames != 0 && frequency > 0.0) {
        const double ms =
            static_cast<double>(c.fpsWindowTicks.load()) / frames / frequency * 1000.0;
        value = ms == 0.0 ? 0.0 : 1000.0 / ms;
    }
    c.fps = value;
    fps = value;
    return GEV_STATUS_SUCCESS;
}

GevStatus freeBufferCount(GevDevice& dev, uint16_t& count) {
    // The driver's buffers can't be counted from here.
    if (filterdriver::driverInUse(dev)) {
        count = 0;
        return GEV_STATUS_NOT_SUPPORTED;
    }
    const auto acquisition = currentAcquisition(dev);
    if (!acquisition) {
        platform::debugTrace("buffer free : c: %d, r: %d, w: %d", dev.bufferCount, 0, 0);
        count = dev.bufferCount;
        return GEV_STATUS_SUCCESS;
    }
    size_t read = 0;
    size_t write = 0;
    acquisition->ring->positions(read, write);
    platform::debugTrace("buffer free : c: %d, r: %d, w: %d", acquisition->ring->size(),
                         static_cast<int>(read), static_cast<int>(write));
    count = acquisition->ring->freeCount();
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::gvsp
