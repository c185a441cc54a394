#include "support/Programs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::ostream& operator<<(std::ostream& os, const ProgramRun& r)
{
    return os << (r.exited ? "exit " + std::to_string(r.status) : "signal " + std::to_string(r.signal))
              << "\n--- stderr:\n"
              << r.err << "--- stdout (first 2000 bytes):\n"
              << r.out.substr(0, 2000);
}

ProgramRun runProgram(const std::vector<std::string>& argv, const fs::path& scratch, const fs::path& cwd,
                      bool closedStdout)
{
    // Named per test process: several tests may share one scratch folder.
    const std::string tag = std::to_string(::getpid());
    const std::string outPath = (scratch / (".stdout-" + tag)).string();
    const std::string errPath = (scratch / (".stderr-" + tag)).string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // A pipe whose reader has gone: every write to it fails.
    int pipeFds[2] = {-1, -1};
    if (closedStdout && ::pipe(pipeFds) == 0) {
        ::close(pipeFds[0]);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (std::string& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    ProgramRun r;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args.at(0).c_str(), &actions, nullptr, cargs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << args[0] << ": " << spawned;
        return r;
    }
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    r.exited = WIFEXITED(wstatus);
    r.status = r.exited ? WEXITSTATUS(wstatus) : -1;
    r.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    r.out = closedStdout ? std::string() : readFile(outPath);
    r.err = readFile(errPath);
    fs::remove(outPath), fs::remove(errPath);
    return r;
}

ProgramRun runMeasured(const std::vector<std::string>& argv, const fs::path& scratch, const fs::path& cwd)
{
    const std::string peakPath = (scratch / (".peak-" + std::to_string(::getpid()))).string();
    std::vector<std::string> measured = {ORVIK_PEAK_OF, peakPath};
    measured.insert(measured.end(), argv.begin(), argv.end());
    ProgramRun r = runProgram(measured, scratch, cwd);
    r.peakKilobytes = std::atol(readFile(peakPath).c_str());
    fs::remove(peakPath);
    return r;
}

void ScratchFolder::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "orvik-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
}

void ScratchFolder::TearDown()
{
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}

fs::path ScratchFolder::put(const std::string& name, const std::string& bytes)
{
    const fs::path p = dir / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
}
