#include "sim/description_image.h"

#include <zip.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace kavro::sim {

// Generated at build time from sim/description/KavroSimCamera.xml.
extern const unsigned char kBuiltInDescription[];
extern const size_t kBuiltInDescriptionSize;

namespace {

struct SourceFree {
    void operator()(zip_source_t* source) const noexcept { zip_source_free(source); }
};
using Source = std::unique_ptr<zip_source_t, SourceFree>;
struct ArchiveDiscard {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ArchiveDiscard>;

// Everything a finished in-memory zip source holds.
std::vector<uint8_t> sourceBytes(zip_source_t* source) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(source, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0 ||
        zip_source_open(source) != 0) {
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(stat.size));
    const zip_int64_t n = zip_source_read(source, bytes.data(), bytes.size());
    zip_source_close(source);
    if (n < 0 || static_cast<uint64_t>(n) != bytes.size())
        return {};
    return bytes;
}

}  // namespace

std::span<const uint8_t> builtInDescription() {
    return {kBuiltInDescription, kBuiltInDescriptionSize};
}

std::vector<uint8_t> makeZipArchive(std::string_view entryName, std::span<const uint8_t> content) {
    zip_error_t error;
    zip_error_init(&error);
    Source target(zip_source_buffer_create(nullptr, 0, 0, &error));
    zip_error_fini(&error);
    if (!target)
        return {};
    zip_error_init(&error);
    Archive archive(zip_open_from_source(target.get(), ZIP_TRUNCATE, &error));
    zip_error_fini(&error);
    if (!archive)
        return {};
    // The archive now holds the target too; ours must outlive its close, which writes into it.
    zip_source_keep(target.get());
    zip_source_t* entry = zip_source_buffer(archive.get(), content.data(), content.size(), 0);
    if (entry == nullptr)
        return {};
    const std::string name(entryName);
    const zip_int64_t index = zip_file_add(archive.get(), name.c_str(), entry, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(entry);
        return {};
    }
    // A fixed modification time instead of the clock: the same content makes the same bytes.
    constexpr time_t kEntryTime = 1577836800;  // 2020-01-01
    (void)zip_file_set_mtime(archive.get(), static_cast<zip_uint64_t>(index), kEntryTime, 0);
    if (zip_close(archive.get()) != 0)
        return {};
    (void)archive.release();  // closed
    return sourceBytes(target.get());
}

DescriptionImage describeCamera(const CameraConfig& config) {
    DescriptionImage image;
    std::string_view name = kDescriptionName;
    if (!config.descriptionBytes.empty()) {
        image.bytes = config.descriptionBytes;
    } else if (config.zipDescription) {
        // Made once per process: every zipped camera carries the same archive.
        static const std::vector<uint8_t> zipped =
            makeZipArchive(kDescriptionName, builtInDescription());
        image.bytes = zipped;
        name = kZippedDescriptionName;
    } else {
        image.bytes.assign(builtInDescription().begin(), builtInDescription().end());
    }
    if (!config.firstUrl.empty()) {
        image.firstUrl = config.firstUrl;
    } else {
        char url[128];
        std::snprintf(url, sizeof url, "Local:%.*s;%X;%zX", static_cast<int>(name.size()),
                      name.data(), kDescriptionAddress, image.bytes.size());
        image.firstUrl = url;
    }
    return image;
}

}  // namespace kavro::sim
