#include "cli/Plugin.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string_view>
#include <vector>

#include "host/loader.h"
#include "support/Files.h"
#include "support/Paths.h"
#include "support/Text.h"

namespace orvik {
namespace {

constexpr int kOwnBits = static_cast<int>(sizeof(void*) * 8);
// Set for the build of the other width that this one re-executes, so that
// the two never hand a library back and forth.
constexpr const char* kReexecVariable = "ORVIK_REEXECUTED";

}  // namespace

Invocation invocationOf(int argc, char** argv)
{
    Invocation inv{argc, argv, executablePath(argc > 0 ? argv[0] : nullptr)};
    inv.reexecuted = std::getenv(kReexecVariable) != nullptr;
    ::unsetenv(kReexecVariable);
    return inv;
}

void fail(const std::string& subject, const std::string& reason)
{
    throw Failure{subject + ": " + reason};
}

std::string pluginToLoad(const Invocation& inv, const std::string& named)
{
    const std::string besideSelf = directoryOf(inv.self) + "/";
    if (named.empty()) {
        return besideSelf + ORVIK_DEFAULT_PLUGIN;
    }
    if (named.find('/') == std::string::npos && !pathExists(named) && pathExists(besideSelf + named)) {
        return besideSelf + named;
    }
    return named;
}

void runMatchingHost(const Invocation& inv, const std::string& plugin)
{
    std::string reason;
    const int bits = elfClass(plugin, reason);
    if (bits == 0) {
        fail(plugin, "cannot load the plug-in: " + reason);
    }
    if (bits == kOwnBits) {
        return;
    }
    const std::string widthText = std::to_string(bits) + "-bit plug-in";
    if (inv.reexecuted) {
        fail(plugin, "cannot load the plug-in: a " + widthText + " in a " + std::to_string(kOwnBits) + "-bit host");
    }
    const char* sibling = bits == 32 ? "orvik_x86" : "orvik";
    const std::string siblingPath = directoryOf(inv.self) + "/" + sibling;
    if (::access(siblingPath.c_str(), X_OK) != 0) {
        fail(plugin, "cannot load the plug-in: a " + widthText + " needs " + sibling + ", which is not built" +
                         (bits == 32 ? " (the 32-bit build needs g++-multilib)" : ""));
    }
    std::fflush(stdout);
    std::fflush(stderr);
    ::setenv(kReexecVariable, "1", 1);
    std::vector<char*> args(inv.argv, inv.argv + inv.argc);
    args[0] = const_cast<char*>(siblingPath.c_str());
    args.push_back(nullptr);
    ::execv(siblingPath.c_str(), args.data());
    fail(siblingPath, "cannot be run: " + errorText(errno));
}

std::string tunablesWithHugePageHeaps(const char* tunables)
{
    constexpr const char* kHugePageHeaps = "glibc.malloc.hugetlb=1";
    if (tunables == nullptr || *tunables == '\0') return kHugePageHeaps;
    if (std::string_view(tunables).find("glibc.malloc.hugetlb") != std::string_view::npos) return {};
    return std::string(tunables) + ":" + kHugePageHeaps;
}

void runWithHugePageHeaps(const Invocation& inv)
{
    // Only where huge pages are given on request: with "always" every heap
    // has them already, with "never" none can.
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    if (!std::getline(mode, modes) || modes.find("[madvise]") == std::string::npos) return;
    const char* given = std::getenv("GLIBC_TUNABLES");
    const std::string before = given != nullptr ? given : "";
    const std::string tunables = tunablesWithHugePageHeaps(given);
    if (tunables.empty()) return;
    std::fflush(stdout);
    std::fflush(stderr);
    ::setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
    std::vector<char*> args(inv.argv, inv.argv + inv.argc);
    args.push_back(nullptr);
    ::execv(inv.self.c_str(), args.data());
    // Not run again: this process goes on as it is, its environment as given.
    if (given != nullptr)
        ::setenv("GLIBC_TUNABLES", before.c_str(), 1);
    else
        ::unsetenv("GLIBC_TUNABLES");
}

void openLibrary(PluginLibrary& lib, const std::string& plugin)
{
    std::string error;
    if (!lib.open(plugin, error)) {
        // The loader's reasons may start with the path; it is said once.
        for (const std::string& prefix : {"cannot load plug-in " + plugin + ": ", plugin + ": "}) {
            if (error.compare(0, prefix.size(), prefix) == 0) {
                error.erase(0, prefix.size());
                break;
            }
        }
        fail(plugin, "cannot load the plug-in: " + (error.empty() ? std::string("unknown failure") : error));
    }
}

bool standardOutputWritten(std::ostream& out, std::ostream& err)
{
    errno = 0;
    out.flush();
    if (out) return true;
    const int e = errno;
    err << "orvik: standard output: cannot be written" << (e != 0 ? ": " + errorText(e) : std::string()) << "\n";
    return false;
}

void checkStandardOutput()
{
    std::cout.flush();
    if (!std::cout) {
        const int err = errno;
        fail("standard output", "cannot be written" + (err != 0 ? ": " + errorText(err) : std::string()));
    }
}

}  // namespace orvik
