#include "genicam/description_unzip.h"

#include <zip.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>

namespace kavro::genicam {

namespace {

struct ArchiveClose {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
struct SourceFree {
    void operator()(zip_source_t* source) const noexcept { zip_source_free(source); }
};
struct EntryClose {
    void operator()(zip_file_t* entry) const noexcept { zip_fclose(entry); }
};
using Archive = std::unique_ptr<zip_t, ArchiveClose>;
using Source = std::unique_ptr<zip_source_t, SourceFree>;
using Entry = std::unique_ptr<zip_file_t, EntryClose>;

void say(const LogSink& log, const char* line) {
    if (log)
        log(line);
}

// Opens the archive over `text`, which must outlive it; null when it is not a zip archive.
Archive openArchive(const std::vector<uint8_t>& text) {
    zip_error_t error;
    zip_error_init(&error);
    Source source(zip_source_buffer_create(text.data(), text.size(), 0, &error));
    zip_error_fini(&error);
    if (!source)
        return nullptr;
    zip_error_init(&error);
    Archive archive(zip_open_from_source(source.get(), ZIP_RDONLY, &error));
    zip_error_fini(&error);
    // The archive owns the source once opened; on failure it is still ours to free.
    if (archive)
        (void)source.release();
    return archive;
}

// Reads exactly `size` bytes of entry 0 and checks that nothing follows them (which also makes
// the library verify the entry's checksum).
bool extractFirstEntry(zip_t* archive, uint64_t size, std::vector<uint8_t>& out) {
    Entry entry(zip_fopen_index(archive, 0, 0));
    if (!entry)
        return false;
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    uint64_t done = 0;
    while (done < size) {
        const zip_int64_t n = zip_fread(entry.get(), data.data() + done, size - done);
        if (n <= 0)
            return false;
        done += static_cast<uint64_t>(n);
    }
    uint8_t probe = 0;
    if (zip_fread(entry.get(), &probe, 1) != 0)
        return false;
    out = std::move(data);
    return true;
}

}  // namespace

GevStatus unzipDescription(std::vector<uint8_t>& text, const LogSink& log) {
    Archive archive = openArchive(text);
    if (!archive) {
        say(log, "[ERROR] - mz_zip_reader_init_file() failed!");
        return GEV_STATUS_ZIP_ERROR;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), 0, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0) {
        say(log, "[ERROR] - mz_zip_reader_file_stat() failed!");
        return GEV_STATUS_ZIP_ERROR;
    }
    std::vector<uint8_t> unpacked;
    if (stat.size > kMaxDescriptionSize || !extractFirstEntry(archive.get(), stat.size, unpacked)) {
        say(log, "[ERROR] - mz_zip_reader_extract_file_to_heap() failed!");
        return GEV_STATUS_ZIP_ERROR;
    }
    char line[96];
    std::snprintf(line, sizeof line, "[INFO] - Successfully extracted file, size %lld",
                  static_cast<long long>(stat.size));
    say(log, line);
    archive.reset();  // it reads from `text`
    text = std::move(unpacked);
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::genicam
