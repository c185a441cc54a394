// Text helpers of the command-line host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvik {

// Texts from the plug-in and the file are 8-bit: each byte is taken as the
// ISO-8859-1 character of the same code, so the result is always valid UTF-8.
std::string latin1ToUtf8(const char* text);
inline std::string latin1ToUtf8(const std::string& text)
{
    return latin1ToUtf8(text.c_str());
}

// The same, with control characters shown as '?', for a terminal.
std::string printable(const std::string& text);

// A path the user gave, for a terminal: valid UTF-8 kept, every other byte
// as its ISO-8859-1 character (pathAsUtf8), control characters as '?'.
std::string printablePath(const std::string& path);

// ASCII letters in lower case, every other byte as it is (names in files are
// 8-bit and compared without regard to ASCII case).
std::string asciiLower(std::string text);

// "1 node", "2 nodes".
std::string plural(std::size_t n, const char* one, const char* many);

// The low `count` hex digits of value, most significant first.
std::string hexDigits(std::uint64_t value, int count, bool upperCase);
// A value as 0x and upper-case hex digits, as few as it needs ("0x1F").
std::string hexNumber(std::uint64_t value);
// A 32-bit value as 0x and eight upper-case hex digits ("0x1803FFFF").
std::string hex32(std::uint32_t value);

// strerror(err) starting in lower case ("no such file or directory").
std::string errorText(int err);

}  // namespace orvik
