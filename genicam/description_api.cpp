// The description calls: building a device's feature model from its description, and handing
// the raw description text to the application.
#include "genicam/description_api.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "frame/device_table.h"
#include "frame/log.h"
#include "genicam/data_folder.h"
#include "genicam/description_cache.h"
#include "genicam/description_fetch.h"
#include "genicam/description_loader.h"
#include "genicam/feature_model.h"
#include "gvcp/bootstrap.h"
#include "gvcp/register_access.h"
#include "platform/module.h"

namespace kavro::genicam {

namespace {

using frame::GevDevice;

constexpr uint32_t kDeviceClassReceiver = 1;

// Whatever the last fetch of each device left held, indexed by device index - 1.
class HeldDescriptions final {
  public:
    static HeldDescriptions& instance() {
        static HeldDescriptions held;
        return held;
    }
    void put(uint8_t device, DescriptionText text) {
        std::lock_guard lock(mutex_);
        texts_[device - 1] = std::move(text);
    }
    template <class Body>
    GevStatus with(uint8_t device, Body&& body) {
        std::lock_guard lock(mutex_);
        return body(texts_[device - 1]);
    }

  private:
    std::mutex mutex_;
    std::array<DescriptionText, frame::kMaxDeviceIndex> texts_;
};

struct Folders {
    std::mutex mutex;
    std::string libraryOverride;
    std::string data = defaultDataFolder();
};

Folders& folders() {
    static Folders f;
    return f;
}

// Only one build or description fetch runs in the process at a time: the description name and
// the routing of the XML libraries' diagnostics are process-wide.
std::mutex& buildLock() {
    static std::mutex lock;
    return lock;
}

bool validIndex(uint8_t device) {
    return device >= 1 && device <= frame::kMaxDeviceIndex;
}

LogSink deviceLog(GevDevice& dev) {
    return [&dev](const char* line) { frame::gevLog(dev, line); };
}

// What a fetch for `dev` reads through; `dev` null: a device that is not open, whose reads fail.
FetchEnvironment environmentFor(GevDevice* dev) {
    FetchEnvironment environment;
    environment.libraryFolder = descriptionLibraryFolder();
    if (dev == nullptr) {
        environment.readMemory = [](uint32_t, uint32_t, uint8_t*) {
            return static_cast<GevStatus>(GEV_STATUS_DEVICE_NOT_OPEN);
        };
        return environment;
    }
    environment.readMemory = [dev](uint32_t address, uint32_t length, uint8_t* out) {
        return gvcp::readMemory(*dev, address, length, out);
    };
    environment.log = deviceLog(*dev);
    environment.saveCopy = dev->saveDescription != 0;
    return environment;
}

// Loads a fetched text and builds a feature model from it.
GevStatus buildModel(const DescriptionText& text, const LogSink& log, FeatureModel& model) {
    LoadOptions options;
    options.libraryFolder = descriptionLibraryFolder();
    options.fallbackFolder = descriptionDataFolder();
    options.log = log;
    options.cacheFolder = userDescriptionCacheFolder();
    LoadedDescription loaded;
    const std::string_view bytes(reinterpret_cast<const char*>(text.bytes.data()),
                                 text.bytes.size());
    if (const GevStatus s = loadDescription(bytes, options, loaded))
        return s;
    return buildFeatureModel(loaded.root, log, model);
}

// Sizes the image memory block from the feature PayloadSize: PayloadSize + 65536 zero bytes,
// "[ERROR] - Can't alloc memory. PayloadSize = %d" and GEV_STATUS_OUT_OF_MEMORY when that can't
// be had, the feature's status when it can't be read. A PayloadSize above
// ImageMemory::kMaxImageSize is refused the same way instead of being tried.
GevStatus sizeImageMemoryFromPayload(GevDevice& dev) {
    uint64_t payloadSize = 0;
    if (const GevStatus s = GEVGetFeatureInteger(dev.deviceIndex, "PayloadSize", &payloadSize))
        return s;
    // Image retrieval copies into the block under the stream lock.
    std::lock_guard stream(dev.streamLock);
    if (payloadSize > frame::ImageMemory::kMaxImageSize ||
        !dev.imageMemory.allocateForImage(static_cast<uint32_t>(payloadSize))) {
        frame::gevLogf(dev, "[ERROR] - Can't alloc memory. PayloadSize = %lld",
                       static_cast<long long>(payloadSize));
        return GEV_STATUS_OUT_OF_MEMORY;
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus setXmlFile(GevDevice& dev, const char* fileName) {
    std::lock_guard build(buildLock());
    const uint8_t device = dev.deviceIndex;
    FeatureModels::instance().release(device);
    dev.descriptionReady = 0;

    const LogSink log = deviceLog(dev);
    DescriptionText text;
    if (const GevStatus s = fetchDescription(environmentFor(&dev), fileName, text)) {
        HeldDescriptions::instance().put(device, std::move(text));
        return s;
    }
    auto model = std::make_shared<FeatureModel>();
    const GevStatus built = buildModel(text, log, *model);
    // The build is done with the text whatever its outcome; its size stays known.
    text.release();
    HeldDescriptions::instance().put(device, std::move(text));
    if (built != GEV_STATUS_SUCCESS)
        return built;

    checkInvalidators(*model, log);
    placeSelectors(*model);
    FeatureModels::instance().set(device, std::move(model));
    dev.descriptionReady = 1;

    {
        // Image retrieval copies into the block under the stream lock.
        std::lock_guard stream(dev.streamLock);
        dev.imageMemory.release();
    }
    uint32_t streamChannels = 0;
    uint32_t deviceMode = 0;
    if (const GevStatus s =
            gvcp::readRegister(dev, gvcp::reg::kNumberOfStreamChannels, streamChannels)) {
        return s;
    }
    if (const GevStatus s = gvcp::readRegister(dev, gvcp::reg::kDeviceMode, deviceMode))
        return s;
    if (((deviceMode >> 28) & 7) == kDeviceClassReceiver || streamChannels == 0) {
        return GEV_STATUS_SUCCESS;
    }
    return sizeImageMemoryFromPayload(dev);
}

}  // namespace

void releaseDeviceDescription(uint8_t device) {
    if (!validIndex(device))
        return;
    FeatureModels::instance().release(device);
    HeldDescriptions::instance().put(device, DescriptionText{});
}

void setLibraryFolderOverride(std::string folder) {
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    f.libraryOverride = std::move(folder);
}

std::string descriptionLibraryFolder() {
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    return f.libraryOverride.empty() ? platform::libraryFolder() : f.libraryOverride;
}

std::string descriptionDataFolder() {
    auto& f = folders();
    std::lock_guard lock(f.mutex);
    return f.data;
}

}  // namespace kavro::genicam

using kavro::frame::GevDevice;
using kavro::frame::guarded;
using kavro::frame::withOpenDevice;
namespace genicam = kavro::genicam;

extern "C" {

KAVRO_API GevStatus GEVInitXml(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) {
        kavro::frame::gevLog(dev, "[INFO] - Get xml and parse it.");
        return genicam::setXmlFile(dev, nullptr);
    });
}

KAVRO_API GevStatus GEVSetXmlFile(uint8_t device, const char* fileName) {
    return withOpenDevice(device,
                          [&](GevDevice& dev) { return genicam::setXmlFile(dev, fileName); });
}

KAVRO_API GevStatus GEVGetXmlSize(uint8_t device, uint32_t* size) {
    return guarded([&]() -> GevStatus {
        if (size == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *size = 0;
        if (!genicam::validIndex(device))
            return GEV_STATUS_DEVICE_NOT_OPEN;
        std::lock_guard build(genicam::buildLock());
        genicam::DescriptionText text;
        const GevStatus status = genicam::fetchDescription(
            genicam::environmentFor(kavro::frame::openDevice(device)), nullptr, text);
        if (status == GEV_STATUS_SUCCESS)
            *size = text.size;
        genicam::HeldDescriptions::instance().put(device, std::move(text));
        return status;
    });
}

KAVRO_API GevStatus GEVGetXmlFile(uint8_t device, void** buffer) {
    return guarded([&]() -> GevStatus {
        if (!genicam::validIndex(device))
            return GEV_STATUS_DEVICE_NOT_OPEN;
        if (buffer == nullptr || *buffer == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return genicam::HeldDescriptions::instance().with(
            device, [&](genicam::DescriptionText& text) -> GevStatus {
                if (text.size == 0)
                    return GEV_STATUS_DESCRIPTION_EMPTY;
                if (!text.held)
                    return GEV_STATUS_DESCRIPTION_READ_ERROR;
                std::memcpy(*buffer, text.bytes.data(), text.bytes.size());
                text.release();
                return GEV_STATUS_SUCCESS;
            });
    });
}

KAVRO_API GevStatus GEVSetDescriptionDataFolder(const char* folder) {
    return guarded([&]() -> GevStatus {
        auto& f = genicam::folders();
        std::lock_guard lock(f.mutex);
        f.data = folder != nullptr && folder[0] != '\0' ? std::string(folder)
                                                        : genicam::defaultDataFolder();
        return GEV_STATUS_SUCCESS;
    });
}

}  // extern "C"
