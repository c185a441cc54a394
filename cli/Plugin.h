// What every command that runs the plug-in shares: how orvik was started,
// finding and loading the plug-in library (re-executing the build of the
// other width for a library of that width), the one-line failure that ends a
// command with exit status 2, and the check of standard output.
#pragma once

#include <ostream>
#include <string>

class PluginLibrary;

namespace orvik {

struct Invocation {
    int argc = 0;
    char** argv = nullptr;
    std::string self;  // this executable
    bool reexecuted = false;
};

// How orvik was started; ends a re-execution's mark in the environment.
Invocation invocationOf(int argc, char** argv);

// Thrown for a failure that ends the run with exit status 2 and one line.
struct Failure {
    std::string message;
};
[[noreturn]] void fail(const std::string& subject, const std::string& reason);

// The library to load: the default one beside this executable, or the one
// named. A bare file name that is not in the current folder is looked up
// beside the executable, where the build puts all four libraries.
std::string pluginToLoad(const Invocation& inv, const std::string& named);

// A library of the other width cannot be loaded into this process: runs the
// build of that width (beside this one) with the same arguments instead.
// Returns only when the library fits this process.
void runMatchingHost(const Invocation& inv, const std::string& plugin);

// The C library's tunables (GLIBC_TUNABLES as given, or null) with its heaps
// backed by transparent huge pages; empty when they already say how, either
// way.
std::string tunablesWithHugePageHeaps(const char* tunables);

// Fresh memory costs a page fault per 4 KB page, and on some virtual machines
// each one costs microseconds; a batch conversion takes hundreds of megabytes
// of it (images). Where the system gives huge pages on request, runs this
// executable again, with the same arguments, with its heaps asking for them
// (one fault per 2 MB). Returns when nothing is to change.
void runWithHugePageHeaps(const Invocation& inv);

// Opens the library; fails with the loader's reason.
void openLibrary(PluginLibrary& lib, const std::string& plugin);

// Standard output failed (a closed pipe, a full disk): fails, as the run's
// failure; files already committed stay.
void checkStandardOutput();

// Flushes out (standard output); when it cannot be written, says so on err
// in one line ("orvik: standard output: cannot be written: ...") and gives
// false: the command then ends with exit status 2.
bool standardOutputWritten(std::ostream& out, std::ostream& err);

}  // namespace orvik
