#include "support/Paths.h"

#include <filesystem>
#include <system_error>

#include "support/Text.h"

namespace orvik {

std::string directoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string stemOf(const std::string& name)
{
    const std::size_t slash = name.find_last_of('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot <= start ? name : name.substr(0, dot);
}

std::string extensionOf(const std::string& path)
{
    const std::string name = fileNameOf(path);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || name == "..") return {};
    return asciiLower(name.substr(dot));
}

bool endsWithNoCase(const std::string& name, const std::string& tail)
{
    return name.size() >= tail.size() && asciiLower(name.substr(name.size() - tail.size())) == tail;
}

std::string caseBlindName(const std::string& wanted, const std::vector<std::string>& names)
{
    const std::string key = asciiLower(wanted);
    std::string best;
    for (const std::string& name : names) {
        if (name == wanted) return name;
        if (asciiLower(name) == key && (best.empty() || name < best)) best = name;
    }
    return best;
}

std::string siblingWithExtension(const std::string& path, const std::string& extension)
{
    namespace fs = std::filesystem;
    const std::string folder = directoryOf(path);
    const std::string wanted = stemOf(fileNameOf(path)) + extension;
    // Anything but a folder counts: a FIFO or device found here is refused
    // by whoever opens it, with its own line.
    const auto fileThere = [](const fs::path& p) {
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        return !ec && fs::exists(st) && !fs::is_directory(st);
    };
    if (fileThere(fs::path(folder) / wanted)) return (fs::path(folder) / wanted).string();
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (asciiLower(name) == asciiLower(wanted) && fileThere(it->path())) names.push_back(name);
    }
    const std::string name = caseBlindName(wanted, names);
    return name.empty() ? "" : (fs::path(folder) / name).string();
}

}  // namespace orvik
