#include "support/WorkerPool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "support/FileIo.h"
#include "support/Text.h"

namespace orvik {
namespace {

constexpr std::size_t kNoJob = static_cast<std::size_t>(-1);

struct Worker {
    pid_t pid = -1;
    int jobFd = -1;     // parent writes job numbers
    int answerFd = -1;  // parent reads answers
    std::size_t job = kNoJob;
    std::string pending;  // answer bytes read so far
};

bool writeAll(int fd, const void* data, std::size_t size)
{
    int ignored = 0;
    return orvik::writeAll(fd, data, size, ignored);
}

// The worker's side: job numbers in, answer lines out, until the parent
// closes the job pipe.
[[noreturn]] void workerLoop(int jobFd, int answerFd, const WorkerPoolHandlers& handlers)
{
    std::uint64_t index = 0;
    while (readExactly(jobFd, &index, sizeof index)) {
        std::string answer;
        try {
            answer = handlers.work(static_cast<std::size_t>(index));
        } catch (const std::exception& e) {
            answer = std::string("!") + e.what();
        } catch (...) {
            answer = "!unexpected failure";
        }
        for (char& c : answer) {
            if (c == '\n') c = ' ';
        }
        answer.push_back('\n');
        if (!writeAll(answerFd, answer.data(), answer.size())) break;
    }
    ::_exit(0);
}

std::string howItEnded(int status)
{
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = ::strsignal(sig);
        return "the worker was killed by signal " + std::to_string(sig) + (name ? " (" + std::string(name) + ")" : "");
    }
    if (WIFEXITED(status)) return "the worker exited with status " + std::to_string(WEXITSTATUS(status));
    return "the worker ended";
}

class Pool {
public:
    Pool(const WorkerPoolHandlers& h) : handlers(h) {}
    ~Pool()
    {
        for (Worker& w : workers) stop(w);
    }

    bool spawn(Worker& w, std::string& why)
    {
        int jobs[2];
        int answers[2];
        if (::pipe2(jobs, O_CLOEXEC) != 0) {
            why = "cannot make a pipe: " + errorText(errno);
            return false;
        }
        if (::pipe2(answers, O_CLOEXEC) != 0) {
            why = "cannot make a pipe: " + errorText(errno);
            ::close(jobs[0]);
            ::close(jobs[1]);
            return false;
        }
        const pid_t pid = ::fork();
        if (pid < 0) {
            why = "cannot start a worker: " + errorText(errno);
            for (int fd : {jobs[0], jobs[1], answers[0], answers[1]}) ::close(fd);
            return false;
        }
        if (pid == 0) {
            // The other workers' pipes must not stay open here, or their
            // ends would never see end of file.
            for (Worker& other : workers) {
                if (other.jobFd >= 0) ::close(other.jobFd);
                if (other.answerFd >= 0) ::close(other.answerFd);
            }
            ::close(jobs[1]);
            ::close(answers[0]);
            ::signal(SIGPIPE, SIG_DFL);
            workerLoop(jobs[0], answers[1], handlers);
        }
        ::close(jobs[0]);
        ::close(answers[1]);
        w = Worker{};
        w.pid = pid;
        w.jobFd = jobs[1];
        w.answerFd = answers[0];
        return true;
    }

    // Closes the worker's pipes and waits for it; gives its wait status.
    int stop(Worker& w)
    {
        int status = 0;
        if (w.jobFd >= 0) ::close(w.jobFd);
        if (w.answerFd >= 0) ::close(w.answerFd);
        w.jobFd = w.answerFd = -1;
        if (w.pid > 0) {
            while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        w.pid = -1;
        return status;
    }

    bool run(std::size_t jobCount, unsigned count, std::string& why)
    {
        workers.resize(count);
        unsigned started = 0;
        for (Worker& w : workers) {
            if (spawn(w, why)) ++started;
        }
        if (started == 0) return false;
        std::size_t next = 0;
        std::size_t finished = 0;
        while (finished < jobCount) {
            // Hand a job to every idle worker.
            for (Worker& w : workers) {
                if (w.pid > 0 && w.job == kNoJob && next < jobCount) {
                    const std::uint64_t index = next;
                    if (writeAll(w.jobFd, reinterpret_cast<const char*>(&index), sizeof index)) {
                        w.job = next++;
                    } else {
                        replace(w, next++, finished);
                    }
                }
            }
            std::vector<pollfd> fds;
            std::vector<Worker*> owners;
            for (Worker& w : workers) {
                if (w.pid > 0 && w.job != kNoJob) {
                    fds.push_back(pollfd{w.answerFd, POLLIN, 0});
                    owners.push_back(&w);
                }
            }
            if (fds.empty()) {
                why = "no worker is left to run the jobs";
                return false;
            }
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                why = "cannot wait for the workers: " + errorText(errno);
                return false;
            }
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                Worker& w = *owners[i];
                char buf[4096];
                const ssize_t n = ::read(w.answerFd, buf, sizeof buf);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    replace(w, w.job, finished);
                    continue;
                }
                w.pending.append(buf, static_cast<std::size_t>(n));
                const std::size_t nl = w.pending.find('\n');
                if (nl != std::string::npos) {
                    const std::size_t job = w.job;
                    const std::string answer = w.pending.substr(0, nl);
                    w.pending.clear();
                    w.job = kNoJob;
                    ++finished;
                    handlers.done(job, true, answer);
                }
            }
        }
        for (Worker& w : workers) stop(w);
        return true;
    }

private:
    // A worker died (or its pipe broke) while holding job `job`: the job
    // fails with how it ended, and a new worker takes the dead one's place.
    void replace(Worker& w, std::size_t job, std::size_t& finished)
    {
        const int status = stop(w);
        ++finished;
        handlers.done(job, false, howItEnded(status));
        std::string ignored;
        spawn(w, ignored);
    }

    const WorkerPoolHandlers& handlers;
    std::vector<Worker> workers;
};

}  // namespace

bool runWorkerPool(std::size_t jobCount, unsigned workers, const WorkerPoolHandlers& handlers, std::string& why)
{
    if (jobCount == 0) return true;
    // A worker that dies leaves a broken pipe; writing to it must fail, not
    // end this process.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    bool ok = false;
    {
        Pool pool(handlers);
        ok = pool.run(jobCount, workers < 1 ? 1 : workers, why);
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
    return ok;
}

}  // namespace orvik
