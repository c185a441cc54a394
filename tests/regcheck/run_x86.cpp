// run_x86 PROGRAM [ARGS...]: runs a 32-bit program for a test and gives its
// exit status; where the kernel cannot run 32-bit programs, says so in one
// line and exits 77, which the test takes as skipped.
// run_x86 --probe PROGRAM: only finds out (exit 0: it runs; 77: it cannot).
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "regcheck/X86Runs.h"

int main(int argc, char** argv)
{
    const bool probe = argc > 1 && std::strcmp(argv[1], "--probe") == 0;
    const int first = probe ? 2 : 1;
    if (argc <= first) {
        std::fprintf(stderr, "usage: run_x86 [--probe] PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::string program = argv[first];
    const auto notPossible = [](const std::string& why) {
        std::printf("%s\n", x86run::notPossibleLine(why).c_str());
        return x86run::kSkipped;
    };
    if (std::getenv(x86run::kAssumeNoRun) != nullptr) {
        return notPossible(std::string(x86run::kAssumeNoRun) + " is set");
    }
    const std::vector<std::string> args =
        probe ? std::vector<std::string>{"--probe-only"} : std::vector<std::string>(argv + first + 1, argv + argc);
    std::fflush(stdout);
    const x86run::Started s = x86run::runProgram(program, args, probe);
    if (s.execError == ENOEXEC) {
        return notPossible("it cannot run 32-bit programs (" + program + ": exec format error)");
    }
    if (s.execError != 0) {
        std::fprintf(stderr, "run_x86: %s cannot be run: %s\n", program.c_str(), std::strerror(s.execError));
        return 1;
    }
    if (probe) return 0;
    if (WIFEXITED(s.status)) return WEXITSTATUS(s.status);
    std::fprintf(stderr, "run_x86: %s ended by signal %d\n", program.c_str(), WTERMSIG(s.status));
    return 1;
}
