#include "genicam/description_fetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string_view>

#include "genicam/description_unzip.h"
#include "genicam/description_url.h"
#include "genicam/schema_location.h"

namespace kavro::genicam {

namespace {

constexpr uint32_t kFirstUrl = 0x0200;
constexpr uint32_t kSecondUrl = 0x0400;
constexpr GevStatus kAccessDenied = GEV_STATUS_ACCESS_DENIED;

struct FileClose {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

std::mutex nameLock;
std::string descriptionName;  // guarded by nameLock

void setDescriptionName(std::string name) {
    std::lock_guard lock(nameLock);
    descriptionName = std::move(name);
}

void say(const LogSink& log, const char* line) {
    if (log)
        log(line);
}

void sayf(const LogSink& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
void sayf(const LogSink& log, const char* format, ...) {
    if (!log)
        return;
    std::array<char, 1024> line;
    va_list args;
    va_start(args, format);
    std::vsnprintf(line.data(), line.size(), format, args);
    va_end(args);
    log(line.data());
}

// A host file is taken for a zip archive when its name contains ".zip".
bool isZipName(std::string_view name) {
    return name.find(".zip") != std::string_view::npos;
}

// The file name a saved copy gets: the last path component of the description name, so that a
// name a camera sends can never place the copy outside the folder of saved copies.
std::string_view savedFileName(std::string_view name) {
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    if (name == "." || name == "..")
        return {};
    return name;
}

struct FdClose {
    int fd = -1;
    ~FdClose() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void saveCopy(const FetchEnvironment& environment, const std::string& name,
              const std::vector<uint8_t>& bytes) {
    const std::string_view file = savedFileName(name);
    say(environment.log, "[INFO] - Save xml file.");
    if (environment.libraryFolder.empty() || file.empty()) {
        say(environment.log, "[ERROR] - Can't create xml file.");
        return;
    }
    const std::string folder = joinPath(environment.libraryFolder, kSavedFolder);
    // The folder may exist already; a link in place of it or of the file is not followed.
    (void)::mkdir(folder.c_str(), 0755);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        say(environment.log, "[ERROR] - Can't create xml file.");
        return;
    }
    const std::string path = joinPath(folder, file);
    const FdClose out{
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644)};
    if (out.fd < 0) {
        say(environment.log, "[ERROR] - Can't create xml file.");
        return;
    }
    if (!writeAll(out.fd, bytes)) {
        say(environment.log, "[ERROR] - Can't write xml file.");
    }
}

// Reads the description range a "local:" URL names.
GevStatus readFromCamera(const FetchEnvironment& environment, const DescriptionUrl& url,
                         DescriptionText& out) {
    sayf(environment.log, "[INFO] - XML-Name: %s, Address: 0x%08X, Length: %d", url.path.c_str(),
         url.address, static_cast<int>(url.length));
    if (url.length > kMaxDescriptionSize) {
        sayf(environment.log, "[ERROR] - Xml file length %u is too large.", url.length);
        return GEV_STATUS_DESCRIPTION_READ_ERROR;
    }
    out.bytes.assign(url.length, 0);
    out.held = true;
    out.size = url.length;
    if (environment.readMemory(url.address, url.length, out.bytes.data()) != GEV_STATUS_SUCCESS) {
        say(environment.log, "[ERROR] - Unable to read xml file from memory.");
        return GEV_STATUS_DESCRIPTION_READ_ERROR;
    }
    return GEV_STATUS_SUCCESS;
}

// Reads the First URL (the Second when the First can't be read for another reason than access
// denied) and follows it. `name` receives the description name when there is one, `zipped`
// whether the URL names a zip archive.
GevStatus followCameraUrl(const FetchEnvironment& environment, DescriptionText& out,
                          std::string& name, bool& zipped) {
    std::array<uint8_t, kUrlRegisterSize> text{};
    GevStatus status = environment.readMemory(kFirstUrl, kUrlRegisterSize, text.data());
    if (status != GEV_STATUS_SUCCESS && status != kAccessDenied) {
        text.fill(0);
        status = environment.readMemory(kSecondUrl, kUrlRegisterSize, text.data());
        if (status != GEV_STATUS_SUCCESS && status != kAccessDenied) {
            say(environment.log, "[ERROR] - Can't get url from memory.");
            return GEV_STATUS_URL_ERROR;
        }
    }
    if (status == kAccessDenied) {
        say(environment.log, "[ERROR] - Can't get first url from memory.");
        return kAccessDenied;
    }

    const DescriptionUrl url = parseDescriptionUrl(text);
    switch (url.form) {
        case DescriptionUrl::Form::File: {
            const GevStatus s = readHostFile(url.path, environment.log, out);
            name = url.path;
            zipped = isZipName(name);
            if (s == GEV_STATUS_SUCCESS && (!out.held || out.size == 0))
                return GEV_STATUS_URL_ERROR;
            return s;
        }
        case DescriptionUrl::Form::Local:
            setDescriptionName(url.path);
            name = url.path;
            zipped = url.zipped;
            return readFromCamera(environment, url, out);
        case DescriptionUrl::Form::Web:
            sayf(environment.log,
                 "[ERROR] - Description URL %s is a web address; downloads are not supported.",
                 url.path.c_str());
            return GEV_STATUS_NOT_SUPPORTED;
        case DescriptionUrl::Form::LocalNoLength:
            return GEV_STATUS_SUCCESS;  // no text: reported as an empty description
        case DescriptionUrl::Form::NameTooLong:
            say(environment.log, "[ERROR] - Xml file name in URL is too long.");
            return GEV_STATUS_URL_ERROR;
        case DescriptionUrl::Form::Unknown:
            break;
    }
    say(environment.log, "[ERROR] - Unable to parse first URL for \"local:\" format.");
    return GEV_STATUS_URL_ERROR;
}

}  // namespace

GevStatus readHostFile(const std::string& path, const LogSink& log, DescriptionText& out) {
    const File in(std::fopen(path.c_str(), "rb"));
    if (!in)
        return GEV_STATUS_FILE_OPEN_ERROR;
    std::vector<uint8_t> bytes;
    std::array<uint8_t, 65536> chunk;
    // Read in chunks up to one byte beyond the limit: a file of any kind (a device, a pipe) ends
    // the read once it is known to be too large.
    while (bytes.size() <= kMaxDescriptionSize) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), in.get());
        if (n == 0)
            break;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (bytes.size() > kMaxDescriptionSize) {
        say(log, "[ERROR] - Xml file is too large.");
        return GEV_STATUS_FILE_OPEN_ERROR;
    }
    if (bytes.empty())
        return GEV_STATUS_FILE_EMPTY;
    out.size = static_cast<uint32_t>(bytes.size());
    out.bytes = std::move(bytes);
    out.held = true;
    setDescriptionName(path);
    return GEV_STATUS_SUCCESS;
}

GevStatus fetchDescription(const FetchEnvironment& environment, const char* fileName,
                           DescriptionText& out) {
    out = DescriptionText{};
    bool zipped = false;
    std::string name;
    if (fileName != nullptr) {
        name = fileName;
        zipped = isZipName(name);
        if (const GevStatus s = readHostFile(name, environment.log, out))
            return s;
    } else if (const GevStatus s = followCameraUrl(environment, out, name, zipped)) {
        return s;
    }
    if (!out.held || out.size == 0) {
        out.release();
        say(environment.log, "[ERROR] - Xml file size is 0.");
        return GEV_STATUS_DESCRIPTION_EMPTY;
    }
    if (fileName == nullptr && environment.saveCopy)
        saveCopy(environment, name, out.bytes);
    if (!zipped)
        return GEV_STATUS_SUCCESS;
    if (const GevStatus s = unzipDescription(out.bytes, environment.log))
        return s;
    out.size = static_cast<uint32_t>(out.bytes.size());
    return GEV_STATUS_SUCCESS;
}

std::string lastDescriptionName() {
    std::lock_guard lock(nameLock);
    return descriptionName;
}

}  // namespace kavro::genicam
