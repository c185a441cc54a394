// Import speed and memory of the plug-in in the stand-in host.
//
// Every import benchmark times DoImport (through the host's import call) and,
// in the same iteration and under the same load, the floor: reading the same
// file into a fresh buffer plus allocating and writing as many bytes as the
// imported scene holds. The ratio of the two is the headline figure. Peak
// memory is taken in a fresh process per model (this program run again with
// --peak-memory FILE). At the end the targets are checked against the figures
// of this run.
//
//   orvik_bench [Google Benchmark flags]
//   orvik_bench --peak-memory FILE     (used by the benchmark itself)
//   orvik_bench --import FILE COUNT    imports FILE COUNT times (for a profiler)
//   orvik_bench --floor FILE COUNT     takes FILE's floor COUNT times (the same, for the floor)
//   orvik_bench --interleave SMALL LARGE COUNT  imports the two in turn, on threads "small" and "large"
//   orvik_bench --large-dictionary OUT SIZE NAME...  writes a dictionary of SIZE x SIZE textures
//   ORVIK_BENCH_MODELS=DIR orvik_bench  keeps the generated models in DIR
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <streambuf>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

#include "bench/BenchAnimation.h"
#include "bench/BenchModels.h"
#include "bench/BenchTextures.h"
#include "bench/SceneBytes.h"
#include "host/dump.h"
#include "host/loader.h"
#include "host/scene.h"
#include "importer/Orvik.h"
#include "testkit/DffWriter.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr double kMB = 1024.0 * 1024.0;

HostOptions quietHost()
{
    HostOptions options;
    options.printScriptErrors = false;
    options.drawProgress = false;
    return options;
}

std::size_t fileBytes(const std::string& path)
{
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<std::size_t>(size);
}

// Wall time and the calling thread's CPU time (user and system). On a shared,
// loaded machine the wall time mostly measures the scheduler; the CPU time
// measures the work.
struct Timing {
    double wall = 0.0;
    double cpu = 0.0;
    double system = 0.0;  // the part of cpu spent in the kernel (page faults, the file read)
    long faults = 0;      // minor page faults: pages taken fresh from the system
};

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

rusage threadUsage()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u;
}

double systemSeconds(const rusage& u)
{
    return static_cast<double>(u.ru_stime.tv_sec) + 1e-6 * static_cast<double>(u.ru_stime.tv_usec);
}

class Stopwatch {
public:
    Stopwatch() : wall(Clock::now()), cpu(threadCpuSeconds()), usage(threadUsage()) {}
    Timing elapsed() const
    {
        const double cpuNow = threadCpuSeconds();
        const rusage now = threadUsage();
        return Timing{secondsSince(wall), cpuNow - cpu, systemSeconds(now) - systemSeconds(usage),
                      now.ru_minflt - usage.ru_minflt};
    }

private:
    Clock::time_point wall;
    double cpu;
    rusage usage;
};

// Every timed run starts as a host's first import does: the memory freed by
// earlier runs goes back to the system, so that imports and floors of every
// size take their memory fresh from the system, not from pages the allocator
// kept warm (which only small runs would find).
void returnFreeMemory()
{
    malloc_trim(0);
}

// A fresh, empty scene; then DoImport through the host, timed.
Timing timedImport(const std::string& path)
{
    resetScene(quietHost());
    returnFreeMemory();
    const Stopwatch watch;
    const ImportOutcome outcome = runImport(*GetOrvikDesc(), path);
    const Timing t = watch.elapsed();
    if (!outcome.ran)
        std::fprintf(stderr, "orvik_bench: %s was not imported: %s\n", path.c_str(), outcome.error.c_str());
    return t;
}

// The least any import of the file can cost: one read of the file into a
// fresh buffer (released again, as the import releases its buffer), and
// sceneBytes allocated and written.
Timing timedFloor(const std::string& path, std::size_t sceneBytes)
{
    returnFreeMemory();
    const Stopwatch watch;
    std::unique_ptr<char[]> scene;
    {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) return Timing{};
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(std::max(size, 1L))]);
        const std::size_t got = std::fread(buffer.get(), 1, static_cast<std::size_t>(size), f);
        std::fclose(f);
        benchmark::DoNotOptimize(got);
        benchmark::DoNotOptimize(buffer.get());
        scene.reset(new char[std::max<std::size_t>(sceneBytes, 1)]);
        std::memset(scene.get(), 1, sceneBytes);
        benchmark::DoNotOptimize(scene.get());
        benchmark::ClobberMemory();
    }
    const Timing t = watch.elapsed();
    scene.reset();
    return t;
}

double median(std::vector<double> v)
{
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Figures of this run that the targets are checked against, by name.
std::map<std::string, double>& figures()
{
    static std::map<std::string, double> f;
    return f;
}

// Discards what is written and counts it.
class CountingBuf : public std::streambuf {
public:
    std::size_t count = 0;

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        count += static_cast<std::size_t>(n);
        return n;
    }
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) ++count;
        return traits_type::not_eof(c);
    }
};

// ---------------------------------------------------------------------------
// Benchmarks

void importBenchmark(benchmark::State& state, const std::string& name, const std::string& path)
{
    const std::size_t file = fileBytes(path);
    std::vector<double> importCpu, importSystem, floorCpu, ratios, wallRatios, importFaults, floorFaults;
    std::size_t scene = 0;
    for (auto _ : state) {
        const Timing import = timedImport(path);
        scene = bench::sceneBytes(currentScene());
        resetScene(quietHost());
        const Timing floor = timedFloor(path, scene);
        state.SetIterationTime(import.wall);
        importCpu.push_back(import.cpu);
        importSystem.push_back(import.system);
        floorCpu.push_back(floor.cpu);
        importFaults.push_back(static_cast<double>(import.faults));
        floorFaults.push_back(static_cast<double>(floor.faults));
        ratios.push_back(floor.cpu > 0 ? import.cpu / floor.cpu : 0.0);
        wallRatios.push_back(floor.wall > 0 ? import.wall / floor.wall : 0.0);
    }
    resetScene(quietHost());
    const double importMedian = median(importCpu);
    const double ratio = median(ratios);
    state.SetBytesProcessed(static_cast<std::int64_t>(file) * state.iterations());
    state.counters["file_MB"] = static_cast<double>(file) / kMB;
    state.counters["scene_MB"] = static_cast<double>(scene) / kMB;
    state.counters["import_cpu_ms"] = 1e3 * importMedian;
    state.counters["import_sys_ms"] = 1e3 * median(importSystem);
    state.counters["floor_cpu_ms"] = 1e3 * median(floorCpu);
    state.counters["import_faults"] = median(importFaults);
    state.counters["floor_faults"] = median(floorFaults);
    state.counters["MB_per_cpu_s"] = importMedian > 0 ? static_cast<double>(file) / kMB / importMedian : 0.0;
    state.counters["ratio"] = ratio;
    state.counters["ratio_wall"] = median(wallRatios);
    figures()["ratio/" + name] = ratio;
    figures()["ratioWall/" + name] = median(wallRatios);
    figures()["importMs/" + name] = 1e3 * importMedian;
    figures()["floorMs/" + name] = 1e3 * median(floorCpu);
    figures()["fileBytes/" + name] = static_cast<double>(file);
    figures()["importFaults/" + name] = median(importFaults);
    figures()["floorFaults/" + name] = median(floorFaults);
}

// Each sample's import against its floor (CPU ms and page faults, medians),
// and all of them
// together; a sample under 100 KB should be within 0.1 ms of its floor, and
// the samples' imports at most twice their floors together. False when
// either is missed.
bool reportSamples()
{
    const auto& f = figures();
    double imports = 0, floors = 0;
    bool allMet = true;
    bool any = false;
    for (const auto& [key, importMs] : f) {
        if (key.rfind("importMs/sample/", 0) != 0) continue;
        const std::string name = key.substr(9);
        if (!any)
            std::printf("\nSamples against their floors (CPU ms and page faults, medians):\n"
                        "  %-24s %9s %9s %9s %9s %8s %8s\n",
                        "model", "KB", "import", "floor", "above", "faults", "floor's");
        any = true;
        const double floorMs = f.at("floorMs/" + name);
        const double kb = f.at("fileBytes/" + name) / 1000.0;
        imports += importMs;
        floors += floorMs;
        const bool small = kb < 100.0;
        const bool met = !small || importMs - floorMs <= 0.1;
        allMet = allMet && met;
        std::printf("  %-24s %9.1f %9.3f %9.3f %9.3f %8.0f %8.0f%s\n", name.c_str(), kb, importMs, floorMs,
                    importMs - floorMs, f.at("importFaults/" + name), f.at("floorFaults/" + name),
                    small ? (met ? "  within 0.1 ms: met" : "  within 0.1 ms: MISSED") : "");
    }
    if (!any) return true;
    const double ratio = floors > 0 ? imports / floors : 0.0;
    std::printf("  %-24s %9s %9.3f %9.3f %9.3f  ratio %.2f <= 2.00  %s\n", "all samples", "", imports, floors,
                imports - floors, ratio, ratio <= 2.0 ? "met" : "MISSED");
    return allMet && ratio <= 2.0;
}

// The time of the large import over the small one's, imported in turn so
// that both see the same load.
void linearityBenchmark(benchmark::State& state, const std::string& name, const std::string& small,
                        const std::string& large)
{
    std::vector<double> ratios, wallRatios, floorRatios, beyondFloorRatios, smalls, larges;
    for (auto _ : state) {
        const Timing s = timedImport(small);
        const std::size_t smallScene = bench::sceneBytes(currentScene());
        const Timing l = timedImport(large);
        const std::size_t largeScene = bench::sceneBytes(currentScene());
        resetScene(quietHost());
        // The floors of the two, for the share of the growth that the
        // machine's own memory costs account for.
        const Timing sf = timedFloor(small, smallScene);
        const Timing lf = timedFloor(large, largeScene);
        state.SetIterationTime(s.wall + l.wall);
        smalls.push_back(s.cpu);
        larges.push_back(l.cpu);
        ratios.push_back(s.cpu > 0 ? l.cpu / s.cpu : 0.0);
        wallRatios.push_back(s.wall > 0 ? l.wall / s.wall : 0.0);
        floorRatios.push_back(sf.cpu > 0 ? lf.cpu / sf.cpu : 0.0);
        beyondFloorRatios.push_back(s.cpu > sf.cpu ? (l.cpu - lf.cpu) / (s.cpu - sf.cpu) : 0.0);
    }
    state.counters["floor_ratio"] = median(floorRatios);
    state.counters["beyond_floor_ratio"] = median(beyondFloorRatios);
    figures()["linearityFloor/" + name] = median(floorRatios);
    figures()["linearityBeyondFloor/" + name] = median(beyondFloorRatios);
    state.counters["size_ratio"] =
        static_cast<double>(fileBytes(large)) / static_cast<double>(std::max<std::size_t>(fileBytes(small), 1));
    resetScene(quietHost());
    const double ratio = median(ratios);
    state.counters["small_cpu_ms"] = 1e3 * median(smalls);
    state.counters["large_cpu_ms"] = 1e3 * median(larges);
    state.counters["time_ratio"] = ratio;
    state.counters["time_ratio_wall"] = median(wallRatios);
    figures()["linearity/" + name] = ratio;
    figures()["linearityWall/" + name] = median(wallRatios);
}

struct PeakReport {
    double fileMB = 0, sceneMB = 0, baselineMB = 0, peakMB = 0, dumpExtraMB = 0;
    bool ok = false;
};

// Runs this program again on the file and reads what it reports.
PeakReport runPeakChild(const std::string& path)
{
    PeakReport r;
    std::string command = "'";
    command += fs::read_symlink("/proc/self/exe").string();
    command += "' --peak-memory '";
    command += path;
    command += "'";
    std::FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    r.ok = std::fscanf(p, "%lf %lf %lf %lf %lf", &r.fileMB, &r.sceneMB, &r.baselineMB, &r.peakMB, &r.dumpExtraMB) == 5;
    r.ok = pclose(p) == 0 && r.ok;
    return r;
}

void peakMemoryBenchmark(benchmark::State& state, const std::string& name, const std::string& path)
{
    PeakReport r;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        r = runPeakChild(path);
        state.SetIterationTime(secondsSince(start));
    }
    if (!r.ok) {
        state.SkipWithError("the peak-memory run failed");
        return;
    }
    const double limit = r.fileMB + 1.25 * r.sceneMB + 32.0;
    state.counters["file_MB"] = r.fileMB;
    state.counters["scene_MB"] = r.sceneMB;
    state.counters["start_MB"] = r.baselineMB;
    state.counters["peak_MB"] = r.peakMB;
    state.counters["limit_MB"] = limit;
    state.counters["dump_extra_MB"] = r.dumpExtraMB;
    figures()["peak/" + name] = r.peakMB;
    figures()["peakLimit/" + name] = limit;
    figures()["dumpExtra/" + name] = r.dumpExtraMB;
}

// The scene dump of one import, into a discarding stream or into a file.
void dumpBenchmark(benchmark::State& state, const std::string& name, const std::string& path,
                   const std::string& outFile)
{
    timedImport(path);
    const Scene& scene = currentScene();
    std::vector<double> rates, wallRates;
    std::size_t jsonBytes = 0;
    for (auto _ : state) {
        const Stopwatch watch;
        if (outFile.empty()) {
            CountingBuf buf;
            std::ostream out(&buf);
            writeSceneJson(scene, out);
            jsonBytes = buf.count;
        } else {
            std::ofstream out(outFile, std::ios::binary | std::ios::trunc);
            writeSceneJson(scene, out);
            out.close();
            jsonBytes = fileBytes(outFile);
        }
        const Timing t = watch.elapsed();
        state.SetIterationTime(t.wall);
        const double mb = static_cast<double>(jsonBytes) / kMB;
        rates.push_back(t.cpu > 0 ? mb / t.cpu : 0.0);
        wallRates.push_back(t.wall > 0 ? mb / t.wall : 0.0);
    }
    if (!outFile.empty()) fs::remove(outFile);
    resetScene(quietHost());
    const double rate = median(rates);
    state.SetBytesProcessed(static_cast<std::int64_t>(jsonBytes) * state.iterations());
    state.counters["json_MB"] = static_cast<double>(jsonBytes) / kMB;
    state.counters["MB_per_cpu_s"] = rate;
    state.counters["MB_per_wall_s"] = median(wallRates);
    figures()[std::string(outFile.empty() ? "dumpNull/" : "dumpFile/") + name] = rate;
}

// ---------------------------------------------------------------------------
// The peak-memory child

// A field of /proc/self/status in MB, or -1.
double statusMB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::atof(line.c_str() + n + 1) / 1024.0;
    }
    return -1.0;
}

int peakMemoryChild(const std::string& path)
{
    resetScene(quietHost());
    const double start = statusMB("VmHWM");
    const ImportOutcome outcome = runImport(*GetOrvikDesc(), path);
    if (!outcome.ran) return 1;
    const double peak = statusMB("VmHWM");
    const std::size_t scene = bench::sceneBytes(currentScene());
    // The dump's own memory: the high-water mark is reset to the present
    // resident set before it runs.
    const double before = statusMB("VmRSS");
    double dumpExtra = -1.0;
    if (std::FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", clear);
        std::fclose(clear);
        CountingBuf buf;
        std::ostream out(&buf);
        writeSceneJson(currentScene(), out);
        dumpExtra = statusMB("VmHWM") - before;
    }
    std::printf("%.3f %.3f %.3f %.3f %.3f\n", static_cast<double>(fileBytes(path)) / kMB,
                static_cast<double>(scene) / kMB, start, peak, dumpExtra);
    return 0;
}

// For a profiler: imports the file count times and prints the CPU time of each.
int importRepeatedly(const std::string& path, int count)
{
    for (int i = 0; i < count; ++i) {
        const Timing t = timedImport(path);
        std::printf("%.3f ms %ld faults\n", 1e3 * t.cpu, t.faults);
    }
    resetScene(quietHost());
    return 0;
}

// The floor of FILE, COUNT times, for comparing its profile with the import's.
int floorRepeatedly(const std::string& path, int count)
{
    timedImport(path);
    const std::size_t scene = bench::sceneBytes(currentScene());
    resetScene(quietHost());
    for (int i = 0; i < count; ++i) {
        const Timing t = timedFloor(path, scene);
        std::printf("%.3f ms %ld faults\n", 1e3 * t.cpu, t.faults);
    }
    return 0;
}

// For a profiler: imports the two files in turn, each on a thread of its own
// named "small" or "large", so that a profile sorted by thread name tells
// the two apart.
int importInTurn(const std::string& small, const std::string& large, int count)
{
    for (int i = 0; i < count; ++i) {
        for (const auto& [name, path] : {std::pair{"small", small}, std::pair{"large", large}}) {
            std::thread t([&, threadName = name] {
                pthread_setname_np(pthread_self(), threadName);
                std::printf("%s %.1f ms\n", threadName, 1e3 * timedImport(path).cpu);
            });
            t.join();
        }
    }
    resetScene(quietHost());
    return 0;
}

// ---------------------------------------------------------------------------
// Models and targets

struct Model {
    std::string name;
    std::string path;
};

// Writes the generated models into folder.
std::vector<Model> generateModels(const fs::path& folder)
{
    std::vector<Model> models;
    auto add = [&](const std::string& name, const std::function<std::vector<std::uint8_t>()>& make) {
        const Clock::time_point start = Clock::now();
        const std::string path = (folder / (name + ".dff")).string();
        if (!dffw::saveFile(path, make())) {
            std::fprintf(stderr, "orvik_bench: cannot write %s\n", path.c_str());
            std::exit(1);
        }
        std::fprintf(stderr, "generated %s: %.1f MB in %.1f s\n", name.c_str(),
                     static_cast<double>(fileBytes(path)) / kMB, secondsSince(start));
        models.push_back(Model{name, path});
    };
    bench::GridModel big;
    big.columns = 1000;
    big.rows = 1000;
    big.prelit = true;
    big.uvSets = 2;
    big.normals = true;
    big.materials = 4;
    add("mesh-1M", [&] { return bench::gridModel(big); });
    bench::GridModel tenth = big;
    tenth.rows = 100;
    add("mesh-100k", [&] { return bench::gridModel(tenth); });
    // A second pair ten times apart, both beyond the processor's last-level
    // cache, for the linearity alone.
    bench::GridModel fifth = big;
    fifth.rows = 200;
    add("mesh-200k", [&] { return bench::gridModel(fifth); });
    bench::GridModel twice = big;
    twice.rows = 2000;
    add("mesh-2M", [&] { return bench::gridModel(twice); });
    bench::GridModel strips;
    strips.columns = 400;
    strips.rows = 400;
    strips.uvSets = 1;
    strips.normals = true;
    strips.strips = true;
    strips.materials = 4;
    add("strips-160k", [&] { return bench::gridModel(strips); });
    add("clump-500", [] { return bench::clumpModel(500); });
    add("skinned-200k", [] { return bench::skinnedModel(64, 200000); });
    return models;
}

std::string samplesFolder()
{
    const char* env = std::getenv("ORVIK_SAMPLES");
    return env && *env ? env : ORVIK_SAMPLES_DIR;
}

std::vector<Model> sampleModels()
{
    std::vector<Model> models;
    std::error_code ec;
    for (fs::directory_iterator it(samplesFolder(), ec), end; !ec && it != end; it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (it->is_regular_file() && ext == ".dff")
            models.push_back(Model{it->path().stem().string(), it->path().string()});
    }
    std::sort(models.begin(), models.end(), [](const Model& a, const Model& b) { return a.name < b.name; });
    return models;
}

const Model* findModel(const std::vector<Model>& models, const std::string& name)
{
    for (const Model& m : models)
        if (m.name == name) return &m;
    return nullptr;
}

// Prints each target with this run's figure; false when one is missed.
bool reportTargets()
{
    struct Target {
        const char* what;
        std::string figure;
        std::string limit;  // a figure name, or empty for a fixed limit
        double fixed;
        bool atMost;
    };
    const std::vector<Target> targets = {
        {"mesh-1M import time / floor", "ratio/mesh-1M", "", 2.0, true},
        {"  the same in wall time", "ratioWall/mesh-1M", "", 2.0, true},
        {"skinned-200k import time / floor", "ratio/skinned-200k", "", 3.0, true},
        {"  the same in wall time", "ratioWall/skinned-200k", "", 3.0, true},
        {"mesh-1M time / mesh-100k time (10x size)", "linearity/1M", "", 11.0, true},
        {"  the same in wall time", "linearityWall/1M", "", 11.0, true},
        {"mesh-2M time / mesh-200k time (10x size)", "linearity/2M", "", 11.0, true},
        {"  the same in wall time", "linearityWall/2M", "", 11.0, true},
        {"mesh-1M peak memory, MB", "peak/mesh-1M", "peakLimit/mesh-1M", 0.0, true},
        {"dump of mesh-1M, discarded, MB/s", "dumpNull/mesh-1M", "", 100.0, false},
        {"dump of mesh-100k to a file, MB/s", "dumpFile/mesh-100k", "", 100.0, false},
        {"dump of skinned-200k, discarded, MB/s", "dumpNull/skinned-200k", "", 100.0, false},
    };
    const auto& f = figures();
    bool allMet = true;
    std::printf("\nTargets (figures of this run; times are the importing thread's CPU time unless marked):\n");
    for (const Target& t : targets) {
        const auto value = f.find(t.figure);
        const auto limitIt = t.limit.empty() ? f.end() : f.find(t.limit);
        if (value == f.end() || (!t.limit.empty() && limitIt == f.end())) {
            std::printf("  %-44s  not measured in this run\n", t.what);
            continue;
        }
        const double limit = t.limit.empty() ? t.fixed : limitIt->second;
        const bool met = t.atMost ? value->second <= limit : value->second >= limit;
        allMet = allMet && met;
        std::printf("  %-44s %9.2f  %s %8.2f  %s\n", t.what, value->second, t.atMost ? "<=" : ">=", limit,
                    met ? "met" : "MISSED");
    }
    for (const char* pair : {"1M", "2M"}) {
        const auto floorGrowth = f.find(std::string("linearityFloor/") + pair);
        const auto beyond = f.find(std::string("linearityBeyondFloor/") + pair);
        if (floorGrowth == f.end() || beyond == f.end()) continue;
        std::printf("  the same pair (%s): the floor alone grows %.2fx, the import's time beyond its floor %.2fx\n",
                    pair, floorGrowth->second, beyond->second);
    }
    for (const auto& [name, value] : f) {
        if (name.rfind("dumpExtra/", 0) == 0)
            std::printf("  extra memory of the dump of %s: %.1f MB\n", name.c_str() + 10, value);
    }
    return allMet;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0) return peakMemoryChild(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--import") == 0) return importRepeatedly(argv[2], std::atoi(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--floor") == 0) return floorRepeatedly(argv[2], std::atoi(argv[3]));
    if (argc >= 4 && std::strcmp(argv[1], "--large-dictionary") == 0)
        return bench::writeLargeDictionary(argv[2], std::atoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc));
    if (argc == 5 && std::strcmp(argv[1], "--interleave") == 0)
        return importInTurn(argv[2], argv[3], std::atoi(argv[4]));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

    // ORVIK_BENCH_MODELS names a folder that keeps the generated models (for
    // profiling them); otherwise they go to a temporary folder removed at exit.
    const char* keep = std::getenv("ORVIK_BENCH_MODELS");
    char folderTemplate[] = "/tmp/orvik-bench-XXXXXX";
    if (keep && *keep) {
        std::error_code ec;
        fs::create_directories(keep, ec);
    } else if (mkdtemp(folderTemplate) == nullptr) {
        std::perror("orvik_bench: mkdtemp");
        return 1;
    }
    const fs::path folder(keep && *keep ? keep : folderTemplate);
    const std::vector<Model> generated = generateModels(folder);
    const std::vector<Model> samples = sampleModels();
    if (samples.empty()) std::fprintf(stderr, "orvik_bench: no sample models in %s\n", samplesFolder().c_str());

    for (const Model& m : samples) {
        benchmark::RegisterBenchmark(("import/sample/" + m.name).c_str(), importBenchmark, "sample/" + m.name, m.path)
            ->UseManualTime()
            ->MinTime(0.5)
            ->Unit(benchmark::kMillisecond);
    }
    for (const Model& m : generated) {
        if (m.name == "mesh-200k" || m.name == "mesh-2M") continue;  // for the linearity only
        auto* b = benchmark::RegisterBenchmark(("import/" + m.name).c_str(), importBenchmark, m.name, m.path);
        b->UseManualTime()->Unit(benchmark::kMillisecond);
        if (m.name == "mesh-1M") {
            b->Iterations(5);
        } else {
            b->MinTime(1.0);
        }
    }
    const Model* small = findModel(generated, "mesh-100k");
    const Model* large = findModel(generated, "mesh-1M");
    benchmark::RegisterBenchmark("linearity/mesh-100k_vs_mesh-1M", linearityBenchmark, "1M", small->path, large->path)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("linearity/mesh-200k_vs_mesh-2M", linearityBenchmark, "2M",
                                 findModel(generated, "mesh-200k")->path, findModel(generated, "mesh-2M")->path)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    for (const Model& m : generated) {
        if (m.name == "mesh-200k" || m.name == "mesh-2M") continue;  // for the linearity only
        benchmark::RegisterBenchmark(("peak_memory/" + m.name).c_str(), peakMemoryBenchmark, m.name, m.path)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    for (const char* name : {"mesh-1M", "mesh-100k", "skinned-200k", "clump-500"}) {
        const Model* m = findModel(generated, name);
        benchmark::RegisterBenchmark((std::string("dump/discarded/") + name).c_str(), dumpBenchmark, m->name, m->path,
                                     std::string())
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
    {
        const Model* m = findModel(generated, "mesh-100k");
        benchmark::RegisterBenchmark("dump/file/mesh-100k", dumpBenchmark, m->name, m->path,
                                     (folder / "dump.json").string())
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }

    bench::registerTextureBenchmarks(samplesFolder(), folder.string());
    bench::registerAnimationBenchmarks(samplesFolder());

    benchmark::RunSpecifiedBenchmarks();
    const bool targetsMet = reportTargets();
    const bool met = reportSamples() && targetsMet;
    benchmark::Shutdown();
    std::error_code ec;
    if (!(keep && *keep)) fs::remove_all(folder, ec);
    return met ? 0 : 1;
}
