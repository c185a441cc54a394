#include "images/Textures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/Text.h"

namespace orvik {

std::unique_ptr<LoadedDictionary> loadDictionary(const std::string& path, std::string& why)
{
    // Non-blocking open so a FIFO at the name cannot hang the run; the opened
    // descriptor is what is checked and read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = errno == ENOENT ? "no such file" : "cannot be read: " + errorText(errno);
        return nullptr;
    }
    struct stat st {};
    auto fail = [&](const std::string& reason) {
        ::close(fd);
        why = reason;
        return nullptr;
    };
    if (::fstat(fd, &st) != 0) return fail("cannot be read: " + errorText(errno));
    if (S_ISDIR(st.st_mode)) return fail("is a folder, not a texture dictionary");
    if (!S_ISREG(st.st_mode)) return fail("not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > kMaxDictionarySize) {
        return fail("is larger than " + std::to_string(kMaxDictionarySize >> 20) + " MiB");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail("cannot be read: " + errorText(errno));
        if (n == 0) break;  // shorter than it was: read what is there
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return dictionaryFromBytes(path, std::move(bytes));
}

std::unique_ptr<LoadedDictionary> dictionaryFromBytes(const std::string& name, std::vector<std::uint8_t> bytes)
{
    auto loaded = std::make_unique<LoadedDictionary>();
    loaded->path = name;
    loaded->bytes = std::move(bytes);
    loaded->dictionary = txd::readDictionary(loaded->bytes);
    return loaded;
}

std::string pngFileName(const std::string& textureName, std::set<std::string>& taken)
{
    std::string base;
    for (const char c : latin1ToUtf8(textureName)) {
        const auto u = static_cast<unsigned char>(c);
        const bool unsafe = c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7F || (base.empty() && c == '.');
        base += unsafe ? '_' : c;
    }
    if (base.empty()) base = "texture";
    std::string name = base + ".png";
    for (int n = 2; taken.count(asciiLower(name)) != 0; ++n) {
        name = base + "_" + std::to_string(n) + ".png";
    }
    taken.insert(asciiLower(name));
    return name;
}

}  // namespace orvik
