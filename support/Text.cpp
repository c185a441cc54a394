#include "support/Text.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "host/dump.h"

namespace orvik {

std::string latin1ToUtf8(const char* text)
{
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string printable(const std::string& text)
{
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        out.push_back(c < 0x20 || c == 0x7F ? '?' : ch);
    }
    return latin1ToUtf8(out);
}

std::string printablePath(const std::string& path)
{
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        out.push_back(c < 0x20 || c == 0x7F ? '?' : ch);
    }
    return pathAsUtf8(out);
}

std::string errorText(int err)
{
    std::string s = std::strerror(err);
    if (!s.empty()) {
        s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
    }
    return s;
}

std::string plural(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string hexDigits(std::uint64_t value, int count, bool upperCase)
{
    const char* const digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    for (int shift = 4 * (count - 1); shift >= 0; shift -= 4) out.push_back(digits[(value >> shift) & 15]);
    return out;
}

std::string hexNumber(std::uint64_t value)
{
    int count = 1;
    while (count < 16 && (value >> (4 * count)) != 0) ++count;
    return "0x" + hexDigits(value, count, true);
}

std::string hex32(std::uint32_t value)
{
    return "0x" + hexDigits(value, 8, true);
}

// The host's own: one ASCII lower-casing for the host and every command.
std::string asciiLower(std::string text)
{
    return asciiLowered(std::move(text));
}

}  // namespace orvik
