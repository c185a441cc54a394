#include "support/ImportHarness.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "host/dump.h"
#include "importer/Orvik.h"

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The per-call temporary folder; removed on the next call and at exit.
class TempFolder {
public:
    ~TempFolder() { drop(); }
    const fs::path& fresh()
    {
        drop();
        static std::atomic<unsigned> counter{0};
        const fs::path base = fs::temp_directory_path();
        std::error_code ec;
        for (;;) {
            path = base / ("orvik-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
            if (fs::create_directory(path, ec)) break;
            if (ec) {
                ADD_FAILURE() << "cannot make temporary folder " << path << ": " << ec.message();
                break;
            }
        }
        return path;
    }
    const fs::path& current() const { return path; }

private:
    void drop()
    {
        if (path.empty()) return;
        std::error_code ec;
        fs::remove_all(path, ec);
        path.clear();
    }
    fs::path path;
};

TempFolder& tempFolderSlot()
{
    static TempFolder folder;
    return folder;
}

ImportOutcome& outcomeSlot()
{
    static ImportOutcome outcome;
    return outcome;
}

}  // namespace

Scene& importFile(const std::string& path, const HostOptions& options)
{
    resetScene(options);
    outcomeSlot() = runImport(*GetOrvikDesc(), path);
    return currentScene();
}

Scene& importBytes(const std::vector<std::uint8_t>& bytes, const HostOptions& options, const std::string& fileName)
{
    const fs::path file = tempFolderSlot().fresh() / fileName;
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) ADD_FAILURE() << "cannot write " << file;
    }
    return importFile(file.string(), options);
}

const ImportOutcome& lastImportOutcome()
{
    return outcomeSlot();
}

std::string tempFolder()
{
    return tempFolderSlot().current().string();
}

std::string dumpText(const Scene& scene)
{
    std::ostringstream out;
    writeSceneJson(scene, out);
    return out.str();
}

nlohmann::json dumpJson(const Scene& scene)
{
    return nlohmann::json::parse(dumpText(scene));
}

nlohmann::ordered_json dumpOrderedJson(const Scene& scene)
{
    return nlohmann::ordered_json::parse(dumpText(scene));
}

std::string samplesFolder()
{
    const char* env = std::getenv("ORVIK_SAMPLES");
    if (env && *env) return env;
    return ORVIK_SAMPLES_DIR;
}

bool samplesAvailable()
{
    std::error_code ec;
    return fs::is_directory(samplesFolder(), ec);
}

std::string samplePath(const std::string& name)
{
    return (fs::path(samplesFolder()) / name).string();
}

std::vector<std::string> sampleDffFiles()
{
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(samplesFolder(), ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext == ".dff") files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}
