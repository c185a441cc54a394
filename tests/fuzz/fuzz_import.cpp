// libFuzzer target: one whole import of the input bytes through the stand-in
// host, the way the host runs an importer (DoImport on a fresh scene, then
// ZoomExtents), followed by the scene dump written to a null stream.
//
// The bytes are handed over in memory: they are written into a memfd and the
// importer opens it as /proc/self/fd/N. About one input in five is imported
// with the game material plug-in absent, so that the readers also walk
// materials the host refused to make.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>

#include "host/dump.h"
#include "host/scene.h"
#include "importer/Orvik.h"

namespace {

// Swallows whatever is written to it.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class HostImpInterface : public ImpInterface {};

int memoryFile()
{
    static const int fd = [] {
        const int f = memfd_create("orvik-fuzz-input", 0);
        if (f < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        return f;
    }();
    return fd;
}

bool fill(int fd, const std::uint8_t* data, std::size_t size)
{
    if (ftruncate(fd, 0) != 0) return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = memoryFile();
    if (!fill(fd, data, size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    HostOptions options;
    options.printScriptErrors = false;
    options.withoutGameMaterial = size % 5 == 4;
    Scene& scene = resetScene(options);

    static HostImpInterface impInterface;
    auto* importer = static_cast<SceneImport*>(GetOrvikDesc()->Create(FALSE));
    const int result = importer->DoImport(path.c_str(), &impInterface, GetCOREInterface(), FALSE);
    scene.import = ImportRecord{path, result, importer->ZoomExtents() == 1};
    delete importer;
    // Every import ends as a successful one, whatever the file held.
    if (result != 1) std::abort();

    NullBuffer sink;
    std::ostream out(&sink);
    writeSceneJson(scene, out);
    return 0;
}
