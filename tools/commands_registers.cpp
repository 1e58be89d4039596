// read and write: registers and device memory by address.
#include <cstdio>
#include <string>
#include <vector>

#include "camera_session.h"
#include "commands.h"

namespace gevtool {
namespace {

constexpr uint32_t kMaxMemoryLength = 1u << 20;

void hexDump(uint32_t address, const std::vector<uint8_t>& bytes) {
    for (size_t row = 0; row < bytes.size(); row += 16) {
        std::printf("%08zX ", address + row);
        std::string text;
        for (size_t i = row; i < row + 16; ++i) {
            if (i < bytes.size()) {
                std::printf(" %02X", bytes[i]);
                text.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i])
                                                                   : '.');
            } else {
                std::printf("   ");
            }
        }
        std::printf("  %s\n", text.c_str());
    }
}

std::optional<uint32_t> parseAddress(const std::string& text) {
    const auto value = parseUnsigned(text);
    if (!value || *value > UINT32_MAX || (*value & 3) != 0)
        return std::nullopt;
    return static_cast<uint32_t>(*value);
}

int runRead(const CommandLine& line) {
    const auto& ops = line.operands();
    const bool memory = line.has("memory");
    if (ops.empty() || ops.size() > 2)
        return usageError(readCommand(), "needs ADDRESS and an optional COUNT or LENGTH");
    const auto address = parseAddress(ops[0]);
    if (!address)
        return usageError(readCommand(), "ADDRESS must be a number that is a multiple of 4");
    const auto count =
        ops.size() == 2 ? parseUnsigned(ops[1]) : std::optional<uint64_t>(memory ? 4 : 1);
    if (!count || *count == 0 || (!memory && *count > GEV_MAX_READ_REGISTERS) ||
        (memory && (*count > kMaxMemoryLength || (*count & 3) != 0)))
        return usageError(readCommand(), memory ? "LENGTH must be a multiple of 4 up to 1048576"
                                                : "COUNT must be 1 to 135");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::None, camera, exitCode))
        return exitCode;
    if (memory) {
        std::vector<uint8_t> bytes(*count);
        if (!check("reading memory", GEVReadMemory(sessionDevice(), *address,
                                                   static_cast<uint32_t>(*count), bytes.data())))
            return kExitFailure;
        hexDump(*address, bytes);
        return kExitOk;
    }
    std::vector<uint32_t> values(*count);
    if (!check("reading registers", GEVReadRegister(sessionDevice(), *address,
                                                    static_cast<uint8_t>(*count), values.data())))
        return kExitFailure;
    for (size_t i = 0; i < values.size(); ++i)
        std::printf("0x%08zX = 0x%08X (%u)\n", *address + 4 * i, values[i], values[i]);
    return kExitOk;
}

int runWrite(const CommandLine& line) {
    const auto& ops = line.operands();
    const bool memory = line.has("memory");
    if (ops.size() < 2)
        return usageError(writeCommand(), "needs ADDRESS and at least one VALUE");
    const auto address = parseAddress(ops[0]);
    if (!address)
        return usageError(writeCommand(), "ADDRESS must be a number that is a multiple of 4");
    std::vector<uint32_t> values;
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < ops.size(); ++i) {
        const auto value = parseUnsigned(ops[i]);
        if (!value || *value > (memory ? 0xFFu : UINT32_MAX))
            return usageError(writeCommand(), memory ? "each BYTE must be 0 to 255"
                                                     : "each VALUE must be 0 to 4294967295");
        values.push_back(static_cast<uint32_t>(*value));
        bytes.push_back(static_cast<uint8_t>(*value));
    }
    if (!memory && values.size() > GEV_MAX_WRITE_REGISTERS)
        return usageError(writeCommand(), "at most 67 registers at once");
    if (memory && (bytes.size() & 3) != 0)
        return usageError(writeCommand(), "the number of BYTEs must be a multiple of 4");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::Exclusive, camera, exitCode))
        return exitCode;
    const GevStatus status =
        memory ? GEVWriteMemory(sessionDevice(), *address, static_cast<uint32_t>(bytes.size()),
                                bytes.data())
               : GEVWriteRegister(sessionDevice(), *address, static_cast<uint8_t>(values.size()),
                                  values.data());
    if (!check(memory ? "writing memory" : "writing registers", status))
        return kExitFailure;
    std::printf("wrote %zu %s at 0x%08X\n", memory ? bytes.size() : values.size(),
                memory ? "byte(s)" : "register(s)", *address);
    return kExitOk;
}

}  // namespace

Command readCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool read CAMERA ADDRESS [COUNT]\n"
            "       gevtool read CAMERA --memory ADDRESS [LENGTH]\n"
            "Reads COUNT (1..135, default 1) 32-bit registers from ADDRESS, or with\n"
            "--memory LENGTH bytes (a multiple of 4, default 4) of device memory as a\n"
            "hex dump. Numbers are decimal or 0x hexadecimal.\n"
            "  --memory                read device memory instead of registers\n") +
        kCameraOptionsHelp;
    return {"read", "read registers or device memory", help.c_str(),
            cameraOptions({{'m', "memory", false}}), &runRead};
}

Command writeCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool write CAMERA ADDRESS VALUE...\n"
            "       gevtool write CAMERA --memory ADDRESS BYTE...\n"
            "Writes consecutive 32-bit registers (at most 67) from ADDRESS, or with\n"
            "--memory bytes of device memory (a multiple of 4). Opens the camera with\n"
            "exclusive control.\n"
            "  --memory                write device memory instead of registers\n") +
        kCameraOptionsHelp;
    return {"write", "write registers or device memory", help.c_str(),
            cameraOptions({{'m', "memory", false}}), &runWrite};
}

}  // namespace gevtool
