// grab and stats: images from the camera's stream, to files or only counted.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "camera_session.h"
#include "commands.h"
#include "image_files.h"

namespace gevtool {
namespace {

constexpr uint64_t kMaxFrames = 1000000;
constexpr const char* kPathHelp =
    "  --path socket|driver    receive through the library's socket receiver\n"
    "                          (default) or the filter driver (needs CAP_NET_RAW;\n"
    "                          falls back to the socket path, saying why)\n"
    "Prints the path it used (stream path: socket or driver).\n";

void drawProgress(uint32_t done, uint32_t total) {
    constexpr uint32_t kWidth = 40;
    const uint32_t filled = total == 0 ? kWidth : done * kWidth / total;
    std::fprintf(stderr, "\r[%s%s] %u/%u", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), done, total);
    if (done == total)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

struct GrabResult {
    uint32_t received = 0;
    uint32_t incomplete = 0;
    uint32_t unwritten = 0;
    uint64_t missingPackets = 0;
    bool timedOut = false;
};

// What to do with each image; null: only count.
struct FileOutput {
    std::string prefix;
    ImageFileFormat format;
};

// The receive path the stream commands take.
enum class StreamPath { Socket, Driver };

// The path --path asks for; nullopt for anything but socket or driver.
std::optional<StreamPath> requestedPath(const CommandLine& line) {
    const std::string path = line.value("path").value_or("socket");
    if (path == "socket")
        return StreamPath::Socket;
    if (path == "driver")
        return StreamPath::Driver;
    return std::nullopt;
}

// Opens the filter driver when it is asked for; when it can't be had the socket path streams,
// and the library's reason is printed. Prints the path taken either way.
void choosePath(StreamPath wanted, CameraSession& camera) {
    bool driver = false;
    if (wanted == StreamPath::Driver) {
        (void)camera.takeLog();
        const GevStatus s = GEVInitFilterDriver(sessionDevice());
        driver = s == GEV_STATUS_SUCCESS;
        if (!driver) {
            std::fprintf(stderr,
                         "gevtool: the filter driver can't be used (%s); the socket path "
                         "streams instead\n",
                         GEVStatusText(s));
            for (const std::string& l : camera.takeLog())
                std::fprintf(stderr, "gevtool: %s\n", l.c_str());
        }
    }
    std::printf("stream path: %s\n", driver ? "driver" : "socket");
}

// Streams `frames` images with the camera started by the library through its description, and
// prints the statistics the library logs at the stop.
int stream(const CommandLine& line, uint32_t frames, StreamPath path, const FileOutput* output) {
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::Exclusive, camera, exitCode))
        return exitCode;
    if (!camera.loadDescription())
        return kExitFailure;
    uint64_t payload = 0;
    if (!check("reading PayloadSize",
               GEVGetFeatureInteger(sessionDevice(), "PayloadSize", &payload)))
        return kExitFailure;
    if (payload == 0 || payload > (1u << 30)) {
        std::fprintf(stderr, "gevtool: the camera gives a PayloadSize of %llu bytes\n",
                     static_cast<unsigned long long>(payload));
        return kExitFailure;
    }
    // A camera that stops by itself after the frames sends no frame the host no longer takes
    // (which the library would count as lost); the mode is put back at the end.
    char mode[65] = {};
    const bool multiFrame = GEVGetFeatureEnumeration(sessionDevice(), "AcquisitionMode", mode,
                                                     64) == GEV_STATUS_SUCCESS &&
                            GEVSetFeatureEnumeration(sessionDevice(), "AcquisitionMode",
                                                     "MultiFrame") == GEV_STATUS_SUCCESS &&
                            GEVSetFeatureInteger(sessionDevice(), "AcquisitionFrameCount",
                                                 frames) == GEV_STATUS_SUCCESS;
    struct ModeRestore {
        const char* mode;
        ~ModeRestore() {
            if (mode[0] != '\0')
                (void)GEVSetFeatureEnumeration(sessionDevice(), "AcquisitionMode", mode);
        }
    } restore{multiFrame ? mode : ""};
    choosePath(path, camera);
    if (!check("opening the stream channel", GEVOpenStreamChannel(sessionDevice(), 0, 0, 0)))
        return kExitFailure;
    (void)GEVSetPacketResend(sessionDevice(), 1);  // cameras without resend simply refuse
    (void)camera.takeLog();
    if (!check("starting the acquisition", GEVAcquisitionStart(sessionDevice(), frames))) {
        (void)GEVAcquisitionStop(sessionDevice());
        (void)GEVCloseStreamChannel(sessionDevice());
        return kExitFailure;
    }
    std::vector<uint8_t> image(payload);
    GrabResult result;
    const auto start = std::chrono::steady_clock::now();
    drawProgress(0, frames);
    for (uint32_t k = 1; k <= frames; ++k) {
        GevImageHeader h{};
        const GevStatus s = GEVGetImageBuffer(sessionDevice(), &h, image.data());
        if (s != GEV_STATUS_SUCCESS && s != GEV_STATUS_IMAGE_INCOMPLETE) {
            std::fputc('\n', stderr);
            check("waiting for an image", s);
            result.timedOut = true;
            break;
        }
        ++result.received;
        result.incomplete += s == GEV_STATUS_IMAGE_INCOMPLETE ? 1 : 0;
        result.missingPackets += h.missingPackets;
        if (output != nullptr) {
            const std::string suffix = imageFileSuffix(h.pixelFormat, output->format);
            char number[16];
            std::snprintf(number, sizeof number, "_%04u.", k);
            const std::string error =
                suffix.empty()
                    ? "pixel format can't be written"
                    : writeImageFile(output->prefix + number + suffix, output->format, h, image);
            if (!error.empty()) {
                std::fprintf(stderr, "\ngevtool: image %u: %s\n", k, error.c_str());
                ++result.unwritten;
            }
        }
        drawProgress(k, frames);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const GevStatus stopped = GEVAcquisitionStop(sessionDevice());
    (void)GEVCloseStreamChannel(sessionDevice());
    double fps = 0;
    (void)GEVGetImageFPS(sessionDevice(), &fps);
    std::printf("images      %u of %u (%u incomplete, %llu packets missing)\n", result.received,
                frames, result.incomplete, static_cast<unsigned long long>(result.missingPackets));
    if (output != nullptr)
        std::printf("files       %u written as %s_NNNN.*\n", result.received - result.unwritten,
                    output->prefix.c_str());
    std::printf("frame rate  %.1f fps (camera), %.1f images/s received\n", fps,
                seconds > 0 ? result.received / seconds : 0.0);
    for (const std::string& l : camera.takeLog()) {
        if (l.find("Frames:") != std::string::npos || l.find("Packets:") != std::string::npos)
            std::printf("library     %s\n", l.c_str());
    }
    if (!check("stopping the acquisition", stopped))
        return kExitFailure;
    return result.timedOut || result.unwritten != 0 ? kExitFailure : kExitOk;
}

int runGrab(const CommandLine& line) {
    const auto& ops = line.operands();
    if (ops.size() != 1)
        return usageError(grabCommand(), "needs the number of images N");
    const auto frames = parseUnsigned(ops[0]);
    if (!frames || *frames == 0 || *frames > kMaxFrames)
        return usageError(grabCommand(), "N must be 1 to 1000000");
    const auto path = requestedPath(line);
    if (!path)
        return usageError(grabCommand(), "--path takes socket or driver");
    FileOutput output{line.value("output").value_or("frame"), ImageFileFormat::Png};
    const std::string format = line.value("format").value_or("png");
    if (format == "pgm" || format == "pnm")
        output.format = ImageFileFormat::Netpbm;
    else if (format != "png")
        return usageError(grabCommand(), "--format takes png or pgm");
    return stream(line, static_cast<uint32_t>(*frames), *path, &output);
}

int runStats(const CommandLine& line) {
    if (!line.operands().empty())
        return usageError(statsCommand(), "takes no operands");
    const auto frames = parseUnsigned(line.value("frames").value_or("100"));
    if (!frames || *frames == 0 || *frames > kMaxFrames)
        return usageError(statsCommand(), "--frames must be 1 to 1000000");
    const auto path = requestedPath(line);
    if (!path)
        return usageError(statsCommand(), "--path takes socket or driver");
    return stream(line, static_cast<uint32_t>(*frames), *path, nullptr);
}

}  // namespace

Command grabCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool grab CAMERA N [--format png|pgm] [--output PREFIX]\n"
            "                  [--path socket|driver]\n"
            "Grabs N images with the acquisition the camera's description drives\n"
            "(packet resend on when the camera has it) and writes each to\n"
            "PREFIX_0001.png, PREFIX_0002.png, ... A progress bar runs on stderr; the\n"
            "statistics follow at the end. Mono8 and Mono10/12/16 become grey images,\n"
            "RGB8 and BGR8 colour ones, and Bayer 8 formats are turned into colour.\n"
            "Fails when an image does not come within the image time-out.\n"
            "  --format png|pgm        PNG (default) or netpbm: PGM for grey, PPM for\n"
            "                          colour\n"
            "  --output PREFIX         file name prefix, may hold a folder (default\n"
            "                          frame)\n" +
            std::string(kPathHelp)) +
        kCameraOptionsHelp;
    return {"grab", "grab N images to PNG or PGM files, with statistics", help.c_str(),
            cameraOptions({{'f', "format", true}, {'o', "output", true}, {0, "path", true}}),
            &runGrab};
}

Command statsCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool stats CAMERA [--frames N] [--path socket|driver]\n"
            "Streams N images (default 100) without keeping them and prints the\n"
            "stream statistics: images, incomplete ones, missing packets, frame rate,\n"
            "and the frame and packet counts the library keeps.\n"
            "  --frames N              number of images (default 100)\n" +
            std::string(kPathHelp)) +
        kCameraOptionsHelp;
    return {"stats", "stream images and print the stream statistics", help.c_str(),
            cameraOptions({{0, "frames", true}, {0, "path", true}}), &runStats};
}

}  // namespace gevtool
