#include "bench/BenchAnimation.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <benchmark/benchmark.h>

#include "anim/IfpImport.h"
#include "ifp/Package.h"
#include "host/loader.h"
#include "host/scene.h"
#include "importer/Orvik.h"

namespace fs = std::filesystem;

namespace bench {
namespace {

constexpr double kMB = 1024.0 * 1024.0;
// The animation with the most keys of the III package (16 bones, 1824 keys).
constexpr const char* kAnimation = "car_LjackedRHS";

// The benchmark thread's CPU time: on the shared machine the wall time
// mostly measures the scheduler.
HostOptions quiet()
{
    HostOptions options;
    options.printScriptErrors = false;
    options.drawProgress = false;
    return options;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void readBenchmark(benchmark::State& state, const std::vector<std::uint8_t>& bytes)
{
    std::size_t keys = 0;
    for (auto _ : state) {
        const double start = cpuSeconds();
        const ifp::Package p = ifp::readPackage(bytes.data(), bytes.size());
        state.SetIterationTime(cpuSeconds() - start);
        keys = 0;
        for (const ifp::Animation& a : p.animations)
            for (const ifp::Bone& b : a.bones) keys += b.keys.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes.size()) * state.iterations());
    state.counters["file_MB"] = static_cast<double>(bytes.size()) / kMB;
    state.counters["keys"] = static_cast<double>(keys);
}

// The ped is imported afresh before each run (not timed); `whole` times the
// importer's DoImport on the package file, otherwise only the keys set from
// the animation already read.
void applyBenchmark(benchmark::State& state, const std::string& ped, const std::string& package, bool whole)
{
    std::ifstream in(package, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const ifp::Package read = ifp::readPackage(bytes.data(), bytes.size());
    const ifp::Animation* animation = nullptr;
    for (const ifp::Animation& a : read.animations) animation = a.name == kAnimation ? &a : animation;
    if (animation == nullptr) {
        state.SkipWithError("the package has no such animation");
        return;
    }
    auto* options = static_cast<IfpImportOptions*>(GetIfpImportDesc()->GetInterface(IFP_IMPORT_OPTIONS_ID));
    options->SetAnimationName(kAnimation);
    std::size_t keys = 0;
    for (auto _ : state) {
        resetScene(quiet());
        runImport(*GetOrvikDesc(), ped);
        const double start = cpuSeconds();
        if (whole) {
            keys += static_cast<std::size_t>(runImport(*GetIfpImportDesc(), package).result);
        } else {
            keys = anim::applyAnimation(*GetCOREInterface(), *animation).keysSet;
        }
        state.SetIterationTime(cpuSeconds() - start);
    }
    options->SetAnimationName("");
    resetScene(quiet());
    if (!whole) state.counters["keys"] = static_cast<double>(keys);
}

}  // namespace

void registerAnimationBenchmarks(const std::string& samplesFolder)
{
    const std::string package = (fs::path(samplesFolder) / "anpk-iii-ped.ifp").string();
    const std::string ped = (fs::path(samplesFolder) / "ped-c02.dff").string();
    if (!fs::is_regular_file(package) || !fs::is_regular_file(ped)) return;
    std::ifstream in(package, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    benchmark::RegisterBenchmark("ifp/read/anpk-iii-ped", readBenchmark, bytes)
        ->UseManualTime()
        ->MinTime(1.0)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ifp/apply/ped-c02", applyBenchmark, ped, package, false)
        ->UseManualTime()
        ->MinTime(1.0)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ifp/import/ped-c02", applyBenchmark, ped, package, true)
        ->UseManualTime()
        ->MinTime(1.0)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace bench
