#include "bench/BenchTextures.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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
#include "testkit/TxdWriter.h"
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
    for (const int level : {1, 2, 3}) {
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

namespace bench {
namespace {

// A small, fast generator of reproducible noise.
std::uint32_t mix32(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// One colour channel of a smooth image at (x, y) in [0, 1): a few waves of
// random phase and direction, 0 to 255.
double channel(double x, double y, std::uint32_t seed)
{
    double v = 0.5;
    for (int wave = 0; wave < 4; ++wave) {
        const std::uint32_t h = mix32(seed * 16 + static_cast<std::uint32_t>(wave));
        const double fx = 1 + (h & 7), fy = 1 + ((h >> 3) & 7), phase = (h >> 6) % 628 / 100.0;
        v += 0.12 * std::sin(6.2832 * (fx * x + fy * y) + phase);
    }
    return std::clamp(v, 0.0, 1.0) * 255;
}

std::uint16_t to565(double r, double g, double b)
{
    const auto q = [](double v, int bits) {
        return static_cast<unsigned>(std::clamp(v, 0.0, 255.0) * ((1 << bits) - 1) / 255 + 0.5);
    };
    return txdw::pack565(q(r, 5), q(g, 6), q(b, 5));
}

}  // namespace

int writeLargeDictionary(const std::string& path, int size, const std::vector<std::string>& names)
{
    size = std::max(4, size / 4 * 4);
    txdw::Dictionary dictionary;
    for (std::size_t n = 0; n < names.size(); ++n) {
        const bool alpha = n % 3 == 2;
        const std::uint32_t seed = mix32(static_cast<std::uint32_t>(n) + 1) ^ static_cast<std::uint32_t>(size);
        txdw::Texture t;
        t.name = names[n];
        t.platform = txd::Platform::D3D9;
        t.formatWord = alpha ? txd::D3dFormat::Dxt5 : txd::D3dFormat::Dxt1;
        t.compression = alpha ? 9 : 8;
        t.rasterFormat = alpha ? 0x0300 : 0x0200;
        t.depth = 16;
        t.width = t.height = static_cast<std::uint16_t>(size);
        std::vector<std::uint8_t> level;
        const int blocks = size / 4;
        level.reserve(static_cast<std::size_t>(blocks) * blocks * (alpha ? 16 : 8));
        for (int by = 0; by < blocks; ++by) {
            for (int bx = 0; bx < blocks; ++bx) {
                const double x = (bx + 0.5) / blocks, y = (by + 0.5) / blocks;
                const std::uint32_t h = mix32(seed ^ static_cast<std::uint32_t>(by * blocks + bx));
                // The block's mean colour, and a spread between its end colours.
                const double r = channel(x, y, seed), g = channel(x, y, seed + 1), b = channel(x, y, seed + 2);
                const double spread = 4 + (h & 31);
                std::uint16_t c0 = to565(r + spread, g + spread, b + spread);
                std::uint16_t c1 = to565(r - spread, g - spread, b - spread);
                if (c0 < c1) std::swap(c0, c1);
                if (c0 == c1) c1 = static_cast<std::uint16_t>(c0 == 0 ? 0 : c0 - 1);
                // Indices along the block's gradient, with noise.
                std::uint32_t indices = 0;
                for (int p = 0; p < 16; ++p) {
                    const int along = (p & 3) + (p >> 2) + static_cast<int>((mix32(h + static_cast<std::uint32_t>(p)) & 3)) - 2;
                    static constexpr std::uint32_t order[4] = {0, 2, 3, 1};  // c0, 2/3 c0, 1/3 c0, c1
                    indices |= order[std::clamp(along / 2, 0, 3)] << (2 * p);
                }
                if (alpha) {
                    const double a = channel(x, y, seed + 3);
                    level.push_back(static_cast<std::uint8_t>(std::min(255.0, a + 8)));
                    level.push_back(static_cast<std::uint8_t>(std::max(0.0, a - 8)));
                    const std::uint64_t bits = static_cast<std::uint64_t>(mix32(h * 3)) << 16 | mix32(h * 5);
                    for (int i = 0; i < 6; ++i) level.push_back(static_cast<std::uint8_t>(bits >> (8 * i) & 0x49));
                }
                const std::vector<std::uint8_t> block = txdw::dxt1Block(c0, c1, indices);
                level.insert(level.end(), block.begin(), block.end());
            }
        }
        t.levels = {std::move(level)};
        dictionary.textures.push_back(std::move(t));
    }
    const std::vector<std::uint8_t> bytes = txdw::write(dictionary);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "orvik_bench: cannot write %s\n", path.c_str());
        return 2;
    }
    return 0;
}

}  // namespace bench
