#include "genicam/description_url.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace kavro::genicam {

namespace {

constexpr std::string_view kLocalSchemeLower = "local:";
constexpr std::string_view kLocalSchemeUpper = "Local:";
constexpr std::string_view kFileSchemeLower = "file:";
constexpr std::string_view kFileSchemeUpper = "File:";
constexpr size_t kSchemeLength = 6;  // "local:"
constexpr size_t kNumberField = 8;   // characters of the address and of the length

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// An unsigned hexadecimal number at the start of `field` (which holds at most 8 characters),
// after an optional "0x"; reading stops at the first other character.
uint32_t readHex(std::string_view field) {
    if (field.size() >= 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X') &&
        field.size() > 2 && hexDigit(field[2]) >= 0) {
        field.remove_prefix(2);
    }
    uint32_t value = 0;
    for (const char c : field) {
        const int digit = hexDigit(c);
        if (digit < 0)
            break;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

// `count` characters of `text` from `from`, cut at the text's end.
std::string_view slice(std::string_view text, size_t from, size_t count) {
    if (from >= text.size())
        return {};
    return text.substr(from, count);
}

// The host path of the text behind "file:".
std::string filePath(std::string_view rest) {
    if (rest.substr(0, 2) == "//") {
        // An authority: only this host (empty or "localhost") names a local file.
        const std::string_view authority = rest.substr(2, rest.find('/', 2) - 2);
        if (authority.empty() || authority == "localhost") {
            rest.remove_prefix(2 + authority.size());
        }
    }
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string path;
    path.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size()) {
            const int high = hexDigit(rest[i + 1]);
            const int low = hexDigit(rest[i + 2]);
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                path.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        path.push_back(rest[i]);
    }
    return path;
}

bool isWebAddress(std::string_view text) {
    std::string lower(text.substr(0, 6));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return lower.starts_with("http:") || lower.starts_with("https:");
}

DescriptionUrl parseLocal(std::string_view text) {
    DescriptionUrl url;
    const size_t p = text.find(';');
    if (p == std::string_view::npos) {
        url.form = DescriptionUrl::Form::LocalNoLength;
        return url;
    }
    if (p >= 3)
        url.zipped = text.substr(p - 3, 3) == "zip";
    if (p > kSchemeLength) {
        if (p - kSchemeLength > kMaxDescriptionNameLength) {
            url.form = DescriptionUrl::Form::NameTooLong;
            return url;
        }
        url.path.assign(text.substr(kSchemeLength, p - kSchemeLength));
    }
    // The address field ends at the next ";" but holds at most 8 characters; the character after
    // it is taken to be the second ";", and the length is the 8 characters behind that.
    const size_t addressStart = p + 1;
    const std::string_view rest = slice(text, addressStart, std::string_view::npos);
    const size_t addressLength = std::min(rest.find(';'), kNumberField);
    url.address = readHex(slice(text, addressStart, addressLength));
    const size_t lengthStart = addressStart + std::min(addressLength, rest.size()) + 1;
    url.length = readHex(slice(text, lengthStart, kNumberField));
    url.form = DescriptionUrl::Form::Local;
    return url;
}

}  // namespace

DescriptionUrl parseDescriptionUrl(std::span<const uint8_t> bytes) {
    const size_t limit = std::min(bytes.size(), kUrlRegisterSize);
    const auto* chars = reinterpret_cast<const char*>(bytes.data());
    const std::string_view text(chars, std::find(chars, chars + limit, '\0') - chars);

    for (const std::string_view scheme : {kFileSchemeLower, kFileSchemeUpper}) {
        if (const size_t at = text.find(scheme); at != std::string_view::npos) {
            DescriptionUrl url;
            url.form = DescriptionUrl::Form::File;
            url.path = filePath(text.substr(at + scheme.size()));
            return url;
        }
    }
    if (text.find(kLocalSchemeLower) != std::string_view::npos ||
        text.find(kLocalSchemeUpper) != std::string_view::npos) {
        return parseLocal(text);
    }
    if (isWebAddress(text)) {
        DescriptionUrl url;
        url.form = DescriptionUrl::Form::Web;
        url.path.assign(text);
        return url;
    }
    return {};
}

}  // namespace kavro::genicam
