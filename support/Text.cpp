#include "support/Text.h"

#include <cctype>
#include <cstring>

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

std::string asciiLower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace orvik
