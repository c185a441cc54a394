#include "images/FileImages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/Text.h"
#include "host/mtl.h"

namespace fs = std::filesystem;

namespace orvik {
namespace {

// Whether path lies inside folder (both real paths), component by component.
bool inside(const fs::path& path, const fs::path& folder)
{
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (f->empty()) continue;  // the trailing "" of "/a/b/"
        if (p == path.end() || *p != *f) return false;
    }
    return p != path.end();
}

std::string fileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes, std::string& problem)
{
    // O_NONBLOCK: a FIFO or device put there opens without waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        problem = errno == ELOOP ? "a symbolic link, not followed" : "cannot be read: " + errorText(errno);
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (::fstat(fd, &st) != 0) {
        problem = "cannot be read: " + errorText(errno);
    } else if (!S_ISREG(st.st_mode)) {
        problem = "not a regular file";
    } else if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        problem = "file of " + std::to_string(st.st_size) + " bytes is larger than the " + std::to_string(maxBytes) +
                  " bytes an image may have";
    } else {
        // The size is the descriptor's: a file that grows meanwhile is cut
        // there, one that shrinks ends early.
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        ok = true;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                problem = "cannot be read: " + errorText(errno);
                ok = false;
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    if (!ok) bytes.clear();
    return ok;
}

std::vector<std::string> imageFolders(const std::string& model, const std::vector<std::string>& bitmapPaths)
{
    const fs::path folder = fs::path(model).parent_path();
    std::vector<std::string> folders{folder.empty() ? std::string(".") : folder.string()};
    folders.insert(folders.end(), bitmapPaths.begin(), bitmapPaths.end());
    return folders;
}

FileImageSource::FileImageSource(const std::vector<std::string>& folders, std::uint64_t max) : maxBytes(max)
{
    for (const std::string& f : folders) {
        std::error_code ec;
        const fs::path real = fs::canonical(f.empty() ? fs::path(".") : fs::path(f), ec);
        if (!ec) roots.push_back(real.string());
    }
}

TextureImage FileImageSource::imageFor(const BitmapTex& texture)
{
    const MCHAR* mapName = texture.GetMapName();
    if (!texture.MapFileFound() || mapName == nullptr || *mapName == '\0') {
        if (fallback) return fallback(texture);
        return TextureImage{{}, {}, {}, "no image file found", false};
    }
    std::error_code ec;
    const fs::path real = fs::canonical(mapName, ec);
    if (ec) return TextureImage{{}, {}, mapName, "cannot be read: " + errorText(ec.value()), false};
    const std::string key = real.string();
    if (const auto found = files.find(key); found != files.end()) return found->second;

    TextureImage image;
    image.origin = key;
    image.name = fileName(key);
    bool allowed = false;
    for (const std::string& root : roots) allowed = allowed || inside(real, root);
    if (!allowed) {
        image.problem = "found outside the model's folders";
    } else if (!readRegularFile(key, maxBytes, image.bytes, image.problem)) {
        image.problem = key + ": " + image.problem;
    }
    files.emplace(key, image);
    return image;
}

}  // namespace orvik
