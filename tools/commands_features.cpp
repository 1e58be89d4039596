// features, get, set and xml: the camera's device description and its features by name.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "camera_session.h"
#include "commands.h"
#include "feature_values.h"

namespace gevtool {
namespace {

const char* visibilityName(uint8_t visibility) {
    switch (visibility) {
        case 0:
            return "invisible";
        case 1:
            return "beginner";
        case 2:
            return "expert";
        case 3:
            return "guru";
        default:
            return "?";
    }
}

int runFeatures(const CommandLine& line) {
    if (!line.operands().empty())
        return usageError(featuresCommand(), "takes no operands");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::None, camera, exitCode))
        return exitCode;
    if (!camera.loadDescription())
        return kExitFailure;
    GevFeatureEntry* head = nullptr;
    uint8_t depth = 0;
    if (!check("reading the feature list", GEVGetFeatureList(sessionDevice(), &head, &depth)))
        return kExitFailure;
    const bool all = line.has("all");
    for (const GevFeatureEntry* e = head; e != nullptr; e = e->next) {
        const std::string indent(2u * e->level, ' ');
        if (e->isLeaf == 0) {
            std::printf("%s%s/\n", indent.c_str(), e->name);
            continue;
        }
        GevFeatureParameter p{};
        if (GEVGetFeatureParameter(sessionDevice(), e->name, &p) != GEV_STATUS_SUCCESS) {
            std::printf("%s%s (no parameters)\n", indent.c_str(), e->name);
            continue;
        }
        if (!all && (p.visibility == 0 || p.implemented == 0))
            continue;
        std::string value;
        char unit[65] = {};
        const bool readable = p.accessMode != GEV_ACCESS_WO && p.implemented != 0 &&
                              p.available != 0 && p.kind != GEV_FEATURE_COMMAND;
        if (readable) {
            const GevStatus s = readFeatureText(sessionDevice(), e->name, p, value);
            if (s != GEV_STATUS_SUCCESS)
                value = std::string("<") + GEVStatusText(s) + ">";
        } else if (p.kind == GEV_FEATURE_COMMAND) {
            value = "(command)";
        } else {
            value = p.available == 0 ? "(not available)" : "";
        }
        if (GEVGetFeatureUnit(sessionDevice(), e->name, unit, 64) != GEV_STATUS_SUCCESS)
            unit[0] = '\0';
        unit[64] = '\0';
        std::string valueAndUnit = value + (unit[0] != '\0' ? std::string(" ") + unit : "");
        std::printf("%s%-*s %-24s %s %s%s\n", indent.c_str(),
                    static_cast<int>(std::max<size_t>(1, 34 - indent.size())), e->name,
                    valueAndUnit.c_str(), accessName(p.accessMode), featureKindName(p.kind),
                    all ? (std::string(", ") + visibilityName(p.visibility)).c_str() : "");
    }
    return kExitOk;
}

// Opens the camera, loads its description and reads the parameters of the one named feature.
bool openWithFeature(const CommandLine& line, CameraSession::Control control, CameraSession& camera,
                     const std::string& name, GevFeatureParameter& p, int& exitCode) {
    if (!CameraSession::open(line, control, camera, exitCode))
        return false;
    exitCode = kExitFailure;
    if (!camera.loadDescription())
        return false;
    if (!check(("feature " + name).c_str(),
               GEVGetFeatureParameter(sessionDevice(), name.c_str(), &p)))
        return false;
    exitCode = kExitOk;
    return true;
}

int runGet(const CommandLine& line) {
    const auto& ops = line.operands();
    if (ops.empty())
        return usageError(getCommand(), "needs at least one feature NAME");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::None, camera, exitCode))
        return exitCode;
    if (!camera.loadDescription())
        return kExitFailure;
    for (const std::string& name : ops) {
        GevFeatureParameter p{};
        std::string value;
        if (!check(("feature " + name).c_str(),
                   GEVGetFeatureParameter(sessionDevice(), name.c_str(), &p)) ||
            !check(("reading " + name).c_str(),
                   readFeatureText(sessionDevice(), name.c_str(), p, value)))
            return kExitFailure;
        if (ops.size() == 1)
            std::printf("%s\n", value.c_str());
        else
            std::printf("%s = %s\n", name.c_str(), value.c_str());
    }
    return kExitOk;
}

int runSet(const CommandLine& line) {
    const auto& ops = line.operands();
    if (ops.empty() || ops.size() > 2)
        return usageError(setCommand(),
                          "needs NAME and VALUE (VALUE may be left out for a command)");
    CameraSession camera;
    GevFeatureParameter p{};
    int exitCode = kExitOk;
    if (!openWithFeature(line, CameraSession::Control::Exclusive, camera, ops[0], p, exitCode))
        return exitCode;
    const std::string value = ops.size() == 2 ? ops[1] : "";
    if (value.empty() && p.kind != GEV_FEATURE_COMMAND)
        return usageError(setCommand(), "VALUE is needed for this feature");
    if (!check(("setting " + ops[0]).c_str(),
               writeFeatureText(sessionDevice(), ops[0].c_str(), p, value)))
        return kExitFailure;
    if (p.kind != GEV_FEATURE_COMMAND && p.accessMode != GEV_ACCESS_WO) {
        std::string now;
        if (readFeatureText(sessionDevice(), ops[0].c_str(), p, now) == GEV_STATUS_SUCCESS)
            std::printf("%s = %s\n", ops[0].c_str(), now.c_str());
    } else {
        std::printf("%s done\n", ops[0].c_str());
    }
    return kExitOk;
}

int runXml(const CommandLine& line) {
    const auto& ops = line.operands();
    if (ops.size() > 1)
        return usageError(xmlCommand(), "takes at most one FILE");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::None, camera, exitCode))
        return exitCode;
    uint32_t size = 0;
    if (!check("reading the device description", GEVGetXmlSize(sessionDevice(), &size)))
        return kExitFailure;
    std::vector<char> text(size);
    void* buffer = text.data();
    if (!check("copying the device description", GEVGetXmlFile(sessionDevice(), &buffer)))
        return kExitFailure;
    if (ops.empty() || ops[0] == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kExitOk;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(ops[0].c_str(), "wb"), &std::fclose);
    if (!file || std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) {
        std::fprintf(stderr, "gevtool: can't write %s\n", ops[0].c_str());
        return kExitFailure;
    }
    std::printf("saved %u bytes to %s\n", size, ops[0].c_str());
    return kExitOk;
}

}  // namespace

Command featuresCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool features CAMERA [--all]\n"
            "Loads the camera's device description and prints its feature tree:\n"
            "categories end in '/', features show value and unit, access (RO, RW, WO)\n"
            "and kind.\n"
            "  --all                   also invisible and unimplemented features, with\n"
            "                          their visibility\n") +
        kCameraOptionsHelp;
    return {"features", "the feature tree with values, access and units", help.c_str(),
            cameraOptions({{0, "all", false}}), &runFeatures};
}

Command getCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool get CAMERA NAME...\n"
            "Prints the value of each named feature (alone for one name, else as\n"
            "NAME = VALUE lines). Booleans print true or false, enumerations the\n"
            "entry name.\n") +
        kCameraOptionsHelp;
    return {"get", "print feature values by name", help.c_str(), cameraOptions(), &runGet};
}

Command setCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool set CAMERA NAME [VALUE]\n"
            "Writes a feature by its kind: integer, float, true/false, an\n"
            "enumeration entry name or a string; a command runs without VALUE (or\n"
            "with `execute`). Prints the value read back. Opens the camera with\n"
            "exclusive control; the camera keeps the value after the tool exits.\n") +
        kCameraOptionsHelp;
    return {"set", "write a feature by name", help.c_str(), cameraOptions(), &runSet};
}

Command xmlCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool xml CAMERA [FILE]\n"
            "Saves the camera's device description (unzipped) to FILE, or writes it\n"
            "to standard output when FILE is missing or -.\n") +
        kCameraOptionsHelp;
    return {"xml", "save the camera's device description", help.c_str(), cameraOptions(), &runXml};
}

}  // namespace gevtool
