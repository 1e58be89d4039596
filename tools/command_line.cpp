#include "command_line.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace gevtool {

CommandLine::CommandLine(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i)
        args_.emplace_back(argv[i]);
}

bool CommandLine::parse(const std::vector<OptionInfo>& options, std::string& error) {
    std::vector<OptionInfo> all = options;
    all.push_back({'h', "help", false});
    bool optionsEnded = false;
    for (size_t i = 0; i < args_.size(); ++i) {
        const std::string& arg = args_[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || (arg[1] >= '0' && arg[1] <= '9')) {
            operands_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const OptionInfo* found = nullptr;
        for (const OptionInfo& option : all) {
            if ((name.size() == 2 && option.shortName != 0 && name[1] == option.shortName) ||
                name == std::string("--") + option.longName) {
                found = &option;
                break;
            }
        }
        if (found == nullptr) {
            error = "unknown option " + arg;
            return false;
        }
        if (!found->takesValue) {
            if (inlineValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            values_[found->longName] = "";
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args_.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            inlineValue = args_[++i];
        }
        values_[found->longName] = *inlineValue;
    }
    return true;
}

bool CommandLine::has(const std::string& longName) const {
    return values_.contains(longName);
}

std::optional<std::string> CommandLine::value(const std::string& longName) const {
    const auto it = values_.find(longName);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

std::optional<uint64_t> parseUnsigned(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0')
        return std::nullopt;
    return value;
}

std::optional<int64_t> parseSigned(const std::string& text) {
    if (text.empty() || text[0] == ' ')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0')
        return std::nullopt;
    return value;
}

std::optional<double> parseDouble(const std::string& text) {
    if (text.empty() || text[0] == ' ')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0')
        return std::nullopt;
    return value;
}

std::optional<uint32_t> parseIpv4Host(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::string formatIpv4Host(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

bool parseMac(const std::string& text, uint8_t mac[6]) {
    if (text.size() != 17)
        return false;
    for (int i = 0; i < 6; ++i) {
        const std::string part = text.substr(static_cast<size_t>(i) * 3, 2);
        if (i < 5 && text[static_cast<size_t>(i) * 3 + 2] != ':' &&
            text[static_cast<size_t>(i) * 3 + 2] != '-')
            return false;
        char* end = nullptr;
        const unsigned long byte = std::strtoul(part.c_str(), &end, 16);
        if (*end != '\0' || part[0] == '+' || part[0] == '-' || part[0] == ' ')
            return false;
        mac[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

}  // namespace gevtool
