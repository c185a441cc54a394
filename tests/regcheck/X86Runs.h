// Whether this machine's kernel runs 32-bit x86 programs, found out by
// running one: a kernel without 32-bit emulation refuses it with "exec
// format error" (ENOEXEC). Where it cannot, the 32-bit libraries are still
// checked from their files (test_registration); only the checks that run
// them are skipped.
//
// ORVIK_ASSUME_NO_X86_RUN, when set, answers "cannot" without trying, so
// that the skipping can be tried on a machine that can run them.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace x86run {

inline constexpr const char* kAssumeNoRun = "ORVIK_ASSUME_NO_X86_RUN";
inline constexpr int kSkipped = 77;

// The outcome of starting a program: the exec error, or its wait status.
struct Started {
    int execError = 0;  // errno of a failed exec (or fork), 0 when it ran
    int status = 0;     // wait status when it ran
};

// Runs program with args (argv[0] is program), standard input from
// /dev/null; with quiet, its output goes to /dev/null too. execv, not
// execvp: no retry through the shell when the kernel refuses the file.
inline Started runProgram(const std::string& program, const std::vector<std::string>& args, bool quiet)
{
    Started out;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        out.execError = errno;
        return out;
    }
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (std::string& a : argv) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        out.execError = errno;
        ::close(report[0]);
        ::close(report[1]);
        return out;
    }
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            ::dup2(devNull, 0);
            if (quiet) ::dup2(devNull, 1), ::dup2(devNull, 2);
        }
        ::execv(program.c_str(), cargs.data());
        const int err = errno;
        (void)!::write(report[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(report[1]);
    int err = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &err, sizeof err);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof err)) {
        out.execError = err;
    } else {
        out.status = status;
    }
    return out;
}

// The plain line said where the 32-bit programs cannot run.
inline std::string notPossibleLine(const std::string& why)
{
    return "the run-time checks of the 32-bit builds were not possible on this kernel: " + why;
}

// Empty when program (a 32-bit build) can be run here, else why not. Only a
// refusal of the file's format counts; any other failure is left to the
// checks that run it, which then fail.
inline std::string whyNotRunnable(const std::string& program, const std::vector<std::string>& probeArgs)
{
    if (std::getenv(kAssumeNoRun) != nullptr) {
        return std::string(kAssumeNoRun) + " is set";
    }
    if (runProgram(program, probeArgs, true).execError == ENOEXEC) {
        return "it cannot run 32-bit programs (" + program + ": exec format error)";
    }
    return {};
}

}  // namespace x86run
