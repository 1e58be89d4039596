#include "genicam/description_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"

namespace kavro::genicam {
namespace {

constexpr std::string_view kMagic = "KVDESC01";
constexpr std::string_view kSuffix = ".kdc";
constexpr const char* kFolderBelowCache = "KavroGigEVisionLib/descriptions";

// A fast 64-bit hash over whole words; a checksum against damage, not against an attacker (the
// cache folder belongs to the user).
class Hash64 {
  public:
    void add(std::string_view bytes) {
        const char* p = bytes.data();
        size_t n = bytes.size();
        for (; n >= 8; p += 8, n -= 8) {
            uint64_t word = 0;
            std::memcpy(&word, p, 8);
            mix(word);
        }
        uint64_t tail = 0;
        std::memcpy(&tail, p, n);
        mix(tail ^ (static_cast<uint64_t>(n) << 56));
        mix(bytes.size());
    }
    [[nodiscard]] uint64_t value() const { return state_ ^ (state_ >> 31); }

  private:
    void mix(uint64_t word) {
        state_ = (state_ ^ word) * 0x9E3779B97F4A7C15ull;
        state_ ^= state_ >> 32;
    }
    uint64_t state_ = 0x243F6A8885A308D3ull;
};

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

void appendNumber(std::string& out, uint64_t value) {
    std::array<uint8_t, 8> bytes{};
    platform::storeBe64(bytes.data(), value);
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void appendField(std::string& out, std::string_view field) {
    appendNumber(out, field.size());
    out.append(field);
}

// Reads the fields of an entry in order, each length checked against what is left.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    bool number(uint64_t& value) {
        if (rest_.size() < 8) {
            return false;
        }
        value = platform::loadBe64(reinterpret_cast<const uint8_t*>(rest_.data()));
        rest_.remove_prefix(8);
        return true;
    }
    bool field(std::string_view& out) {
        uint64_t length = 0;
        if (!number(length) || length > rest_.size()) {
            return false;
        }
        out = rest_.substr(0, length);
        rest_.remove_prefix(length);
        return true;
    }
    [[nodiscard]] bool done() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

std::string entryPath(const std::string& cacheFolder, std::string_view text,
                      const std::string& libraryFolder, const std::string& fallbackFolder) {
    Hash64 hash;
    hash.add(text);
    hash.add(libraryFolder);
    hash.add(fallbackFolder);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash.value()));
    return joinPath(cacheFolder, std::string(name) + std::string(kSuffix));
}

// The whole file mapped read-only: an entry is read once, as the parser and checksum walk it.
std::shared_ptr<const void> mapWhole(const std::string& path, std::string_view& bytes) {
    const Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (in.fd < 0 || ::fstat(in.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uint64_t>(info.st_size) > kMaxCacheBytes) {
        return nullptr;
    }
    const auto size = static_cast<size_t>(info.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, in.fd, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    bytes = std::string_view(static_cast<const char*>(mapped), size);
    return std::shared_ptr<const void>(
        mapped, [size](const void* p) { ::munmap(const_cast<void*>(p), size); });
}

bool writeWhole(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Creates `folder` and its parents (owner only); true when it is a folder afterwards.
bool makeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        (void)::mkdir(folder.substr(0, slash).c_str(), 0700);
    }
    (void)::mkdir(folder.c_str(), 0700);
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Removes the oldest entries until the folder's entries fit kMaxCacheBytes.
void trim(const std::string& cacheFolder) {
    struct Found {
        std::string path;
        uint64_t size;
        int64_t modified;
    };
    std::vector<Found> entries;
    uint64_t total = 0;
    DIR* dir = ::opendir(cacheFolder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name(item->d_name);
        if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) {
            continue;
        }
        std::string path = joinPath(cacheFolder, name);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            total += static_cast<uint64_t>(info.st_size);
            entries.push_back({std::move(path), static_cast<uint64_t>(info.st_size),
                               static_cast<int64_t>(info.st_mtime)});
        }
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const Found& a, const Found& b) { return a.modified < b.modified; });
    for (const Found& entry : entries) {
        if (total <= kMaxCacheBytes) {
            break;
        }
        if (::unlink(entry.path.c_str()) == 0) {
            total -= entry.size;
        }
    }
}

}  // namespace

FileStamp fileStamp(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    return FileStamp{true,
                     static_cast<uint64_t>(info.st_size),
                     static_cast<uint64_t>(info.st_dev),
                     static_cast<uint64_t>(info.st_ino),
                     static_cast<int64_t>(info.st_mtim.tv_sec),
                     static_cast<int64_t>(info.st_mtim.tv_nsec)};
}

std::string stylesheetPath(std::string_view folder, int n) {
    return joinPath(folder, "PreProcess_" + std::to_string(n) + ".xsl");
}

std::string userDescriptionCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') {
        return joinPath(cache, kFolderBelowCache);
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return joinPath(joinPath(home, ".cache"), kFolderBelowCache);
    }
    return {};
}

std::string toolIdentity(const std::string& libraryFolder, const std::string& fallbackFolder,
                         SchemaVersion version) {
    std::string identity;
    for (const std::string* folder : {&libraryFolder, &fallbackFolder}) {
        appendField(identity, *folder);
        if (folder->empty()) {
            continue;
        }
        std::vector<std::string> files = {joinPath(*folder, schemaFileName(version))};
        for (int n = 1; n <= 4; ++n) {
            files.push_back(stylesheetPath(*folder, n));
        }
        for (const std::string& file : files) {
            const FileStamp stamp = fileStamp(file);
            appendField(identity, file);
            appendNumber(identity, stamp.exists ? 1 : 0);
            appendNumber(identity, stamp.size);
            appendNumber(identity, stamp.device);
            appendNumber(identity, stamp.inode);
            appendNumber(identity, static_cast<uint64_t>(stamp.modifiedSeconds));
            appendNumber(identity, static_cast<uint64_t>(stamp.modifiedNanoseconds));
        }
    }
    return identity;
}

std::optional<CachedDescription> readCachedDescription(const std::string& cacheFolder,
                                                       std::string_view text,
                                                       const std::string& libraryFolder,
                                                       const std::string& fallbackFolder) {
    if (cacheFolder.empty()) {
        return std::nullopt;
    }
    std::string_view bytes;
    std::shared_ptr<const void> storage =
        mapWhole(entryPath(cacheFolder, text, libraryFolder, fallbackFolder), bytes);
    if (!storage || bytes.size() < kMagic.size() + 8 || bytes.substr(0, 8) != kMagic) {
        return std::nullopt;
    }
    const std::string_view body = bytes.substr(0, bytes.size() - 8);
    Hash64 checksum;
    checksum.add(body);
    if (platform::loadBe64(reinterpret_cast<const uint8_t*>(bytes.data() + body.size())) !=
        checksum.value()) {
        return std::nullopt;
    }
    Reader reader(body.substr(kMagic.size()));
    uint64_t major = 0;
    uint64_t minor = 0;
    std::string_view storedText;
    std::string_view storedLibrary;
    std::string_view storedFallback;
    std::string_view tools;
    std::string_view schemaPath;
    std::string_view document;
    if (!reader.number(major) || !reader.number(minor) || !reader.field(storedText) ||
        !reader.field(storedLibrary) || !reader.field(storedFallback) || !reader.field(tools) ||
        !reader.field(schemaPath) || !reader.field(document) || !reader.done() ||
        major > UINT8_MAX || minor > UINT8_MAX || storedText != text ||
        storedLibrary != libraryFolder || storedFallback != fallbackFolder) {
        return std::nullopt;
    }
    CachedDescription entry;
    entry.version = SchemaVersion{static_cast<uint8_t>(major), static_cast<uint8_t>(minor)};
    entry.tools.assign(tools);
    entry.schemaPath.assign(schemaPath);
    entry.document = document;
    entry.storage = std::move(storage);
    return entry;
}

void writeCachedDescription(const std::string& cacheFolder, std::string_view text,
                            const std::string& libraryFolder, const std::string& fallbackFolder,
                            const CachedDescription& entry) {
    if (cacheFolder.empty()) {
        return;
    }
    std::string bytes(kMagic);
    appendNumber(bytes, entry.version.major);
    appendNumber(bytes, entry.version.minor);
    appendField(bytes, text);
    appendField(bytes, libraryFolder);
    appendField(bytes, fallbackFolder);
    appendField(bytes, entry.tools);
    appendField(bytes, entry.schemaPath);
    appendField(bytes, entry.document);
    Hash64 checksum;
    checksum.add(bytes);
    appendNumber(bytes, checksum.value());
    if (bytes.size() > kMaxCacheBytes / 4 || !makeFolders(cacheFolder)) {
        return;
    }
    std::string temporary = joinPath(cacheFolder, "entry.XXXXXX");
    const Fd out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.fd < 0) {
        return;
    }
    const std::string path = entryPath(cacheFolder, text, libraryFolder, fallbackFolder);
    if (!writeWhole(out.fd, bytes) || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return;
    }
    trim(cacheFolder);
}

}  // namespace kavro::genicam
