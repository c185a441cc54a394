// peak_of FILE PROGRAM [ARG...]: runs the program and writes its largest
// resident set in kilobytes (its own processes' included) to FILE, ending as
// the program ended. The tests measure a program's memory through it: a
// process started straight from a test inherits the test's own peak.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3) return 125;
    const pid_t pid = ::fork();
    if (pid < 0) return 125;
    if (pid == 0) {
        ::execv(argv[2], argv + 2);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return 125;
    }
    if (std::FILE* f = std::fopen(argv[1], "w")) {
        std::fprintf(f, "%ld\n", usage.ru_maxrss);
        std::fclose(f);
    }
    if (WIFSIGNALED(status)) {
        std::signal(WTERMSIG(status), SIG_DFL);
        ::raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 125;
}
