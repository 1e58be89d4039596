// The text of a camera's First or Second URL register, taken apart: where the device
// description is (a host file, or a range of the camera's memory) and what it is called.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kavro::genicam {

// Size of one URL register; a URL text is never read beyond it.
inline constexpr size_t kUrlRegisterSize = 512;
// Longest description name a "local:" URL may carry.
inline constexpr size_t kMaxDescriptionNameLength = 254;

struct DescriptionUrl {
    enum class Form : uint8_t {
        Unknown,        // neither "file:"/"File:" nor "local:"/"Local:" nor a web address
        File,           // `path` is a host path
        Web,            // "http:" or "https:" (any case): a download, which is not supported
        Local,          // `path` is the description name; `address` and `length` are set
        LocalNoLength,  // "local:" without any ";": nothing to read
        NameTooLong,    // "local:" with a name of kMaxDescriptionNameLength + 1 or more
    };
    Form form = Form::Unknown;
    std::string path;
    // The three characters before the first ";" are "zip".
    bool zipped = false;
    uint32_t address = 0;
    uint32_t length = 0;
};

// Parses the text of a URL register. The text ends at its first zero byte or at the end of
// `text`, whichever comes first (at most kUrlRegisterSize bytes are looked at); nothing past
// that end is read.
//
// "file:" (looked for first) or "File:" anywhere: the host path follows those five characters,
// as file URLs write it: "//" and an empty or "localhost" authority before an absolute path are
// dropped ("file:///a/b.xml" is "/a/b.xml"), a query ("?SchemaVersion=1.1.0") or fragment ends
// it, and %-escapes are decoded (an escape that decodes to a zero byte, or a malformed one,
// stays as written).
// "local:" or "Local:" anywhere: the text is read as "local:<name>;<address>;<length>", counted
// from the text's start wherever the scheme was found. The name runs from the seventh character
// to the first ";"; the address is at most the first 8 characters of the field behind it, the
// length the 8 characters following the character after the address field; both are
// hexadecimal (an optional "0x" accepted), read up to the first non-hex character, so a query
// such as "?SchemaVersion=1.1.0" ends the length.
[[nodiscard]] DescriptionUrl parseDescriptionUrl(std::span<const uint8_t> text);

}  // namespace kavro::genicam
