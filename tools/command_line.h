// Options and operands of one gevtool subcommand.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace gevtool {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct OptionInfo {
    char shortName;  // 0: long form only
    const char* longName;
    bool takesValue;
};

// Options may come before, between or after the operands; "--" ends the options.
class CommandLine {
  public:
    CommandLine(int argc, char** argv, int first);

    // Splits the arguments by `options` (plus -h/--help); false with `error` set on an unknown
    // option or a missing value.
    bool parse(const std::vector<OptionInfo>& options, std::string& error);

    [[nodiscard]] bool help() const { return has("help"); }
    [[nodiscard]] bool has(const std::string& longName) const;
    [[nodiscard]] std::optional<std::string> value(const std::string& longName) const;
    [[nodiscard]] const std::vector<std::string>& operands() const { return operands_; }

  private:
    std::vector<std::string> args_;
    std::map<std::string, std::string> values_;
    std::vector<std::string> operands_;
};

// Number parsers: decimal or 0x-prefixed hexadecimal, the whole text.
[[nodiscard]] std::optional<uint64_t> parseUnsigned(const std::string& text);
[[nodiscard]] std::optional<int64_t> parseSigned(const std::string& text);
[[nodiscard]] std::optional<double> parseDouble(const std::string& text);
// Dotted IPv4 text to a host-order number.
[[nodiscard]] std::optional<uint32_t> parseIpv4Host(const std::string& text);
[[nodiscard]] std::string formatIpv4Host(uint32_t address);
// "00:0C:4B:10:20:30" (or with '-') to six bytes.
[[nodiscard]] bool parseMac(const std::string& text, uint8_t mac[6]);

}  // namespace gevtool
