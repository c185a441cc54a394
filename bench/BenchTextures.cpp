#include "bench/BenchTextures.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <benchmark/benchmark.h>

#include "txd/Decode.h"
#include "txd/Dictionary.h"
#include "txd/Png.h"

namespace fs = std::filesystem;

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMB = 1024.0 * 1024.0;

std::vector<std::vector<std::uint8_t>>& dictionaries()
{
    static std::vector<std::vector<std::uint8_t>> d;
    return d;
}

// Every sample texture decoded once, for the PNG benchmarks.
std::vector<txd::Image>& images()
{
    static std::vector<txd::Image> i;
    return i;
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Reads and decodes every texture of every sample dictionary: MB of RGBA made per second.
void decodeBenchmark(benchmark::State& state)
{
    std::size_t inBytes = 0, outBytes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        inBytes = outBytes = 0;
        for (const auto& bytes : dictionaries()) {
            const txd::Dictionary d = txd::readDictionary(bytes);
            inBytes += bytes.size();
            for (const txd::Texture& t : d.textures) {
                txd::Image image;
                std::string why;
                if (txd::decodeLevel0(t, image, why)) outBytes += image.rgba.size();
                benchmark::DoNotOptimize(image.rgba.data());
            }
        }
        state.SetIterationTime(seconds(start));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(outBytes) * state.iterations());
    state.counters["dictionaries_MB"] = static_cast<double>(inBytes) / kMB;
    state.counters["rgba_MB"] = static_cast<double>(outBytes) / kMB;
}

// Writes every decoded sample texture as PNG at one compression level, the
// rows' filtering chosen per image: MB of RGBA taken per second, and the PNG
// bytes against the RGBA bytes.
void pngBenchmark(benchmark::State& state)
{
    const int level = static_cast<int>(state.range(0));
    std::size_t inBytes = 0, outBytes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        inBytes = outBytes = 0;
        for (const txd::Image& image : images()) {
            std::vector<std::uint8_t> png;
            std::string why;
            txd::encodePng(image, png, why, level);
            inBytes += image.rgba.size();
            outBytes += png.size();
        }
        state.SetIterationTime(seconds(start));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(inBytes) * state.iterations());
    state.counters["png_MB"] = static_cast<double>(outBytes) / kMB;
    state.counters["png_per_rgba"] = inBytes ? static_cast<double>(outBytes) / static_cast<double>(inBytes) : 0.0;
}

// The whole command, as a user runs it: wall time per export.
void exportBenchmark(benchmark::State& state, const std::string& command, const std::string& output)
{
    for (auto _ : state) {
        const auto start = Clock::now();
        const int status = std::system(command.c_str());
        state.SetIterationTime(seconds(start));
        if (status != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            break;
        }
    }
    std::error_code ec;
    state.counters["glb_MB"] = static_cast<double>(fs::file_size(output, ec)) / kMB;
}

}  // namespace

void registerTextureBenchmarks(const std::string& samples, const std::string& scratch)
{
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(samples, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".txd") files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        dictionaries().emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (dictionaries().empty()) return;
    for (const auto& bytes : dictionaries()) {
        // Kept alive with the images: the textures point into the bytes.
        for (const txd::Texture& t : txd::readDictionary(bytes).textures) {
            txd::Image image;
            std::string why;
            if (txd::decodeLevel0(t, image, why)) images().push_back(std::move(image));
        }
    }
    benchmark::RegisterBenchmark("txd/decode/all-samples", decodeBenchmark)
        ->UseManualTime()
        ->MinTime(1.0)
        ->Unit(benchmark::kMillisecond);
    for (const int level : {1, 2, 6}) {
        benchmark::RegisterBenchmark("txd/png/level", pngBenchmark)
            ->Arg(level)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }

    // The largest sample model with a dictionary beside it; "without" runs a
    // copy of the model in a folder of its own, so no dictionary is found.
    fs::path model;
    for (const fs::path& f : files) {
        fs::path dff = f;
        dff.replace_extension(".dff");
        if (fs::exists(dff) && (model.empty() || fs::file_size(dff) > fs::file_size(model))) model = dff;
    }
    if (model.empty()) return;
    const fs::path alone = fs::path(scratch) / "alone";
    fs::create_directories(alone, ec);
    fs::copy_file(model, alone / model.filename(), fs::copy_options::overwrite_existing, ec);
    // The command-line host of this build tree, or ORVIK_BENCH_ORVIK.
    const char* named = std::getenv("ORVIK_BENCH_ORVIK");
    const std::string orvik = named && *named ? named : std::string(ORVIK_BIN_DIR) + "/orvik";
    if (::access(orvik.c_str(), X_OK) != 0) {
        std::fprintf(stderr,
                     "orvik_bench: %s is not built: no glTF export benchmarks (build the orvik target or set "
                     "ORVIK_BENCH_ORVIK)\n",
                     orvik.c_str());
        return;
    }
    const std::string out = (fs::path(scratch) / "export.glb").string();
    const std::string name = model.stem().string();
    const std::string quiet = " --no-progress >/dev/null 2>&1";
    benchmark::RegisterBenchmark(("gltf/" + name + "/without-dictionary").c_str(), exportBenchmark,
                                 "'" + orvik + "' import '" + (alone / model.filename()).string() + "' --gltf '" + out +
                                     "'" + quiet,
                                 out)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("gltf/" + name + "/with-dictionary").c_str(), exportBenchmark,
                                 "'" + orvik + "' import '" + model.string() + "' --gltf '" + out + "'" + quiet, out)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace bench
