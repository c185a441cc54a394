// The output writer: whole files or none, only the files named. Failures are
// made real (a file size limit, a full tmpfs, a process killed mid-write, a
// target turned into a folder) and judged by what is left on disk.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/FileIo.h"
#include "support/Output.h"
#include "support/Paths.h"
#include "support/Text.h"
#include "support/Programs.h"

namespace {

namespace fs = std::filesystem;
using orvik::commitOutputs;
using orvik::OutputFile;

void writeFile(const fs::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

class Output : public ScratchFolder {
protected:
    std::set<std::string> names() const
    {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
        return out;
    }
    // Runs body in a child process; its exit status (77: skipped).
    static int inChild(const std::function<int()>& body)
    {
        const pid_t pid = fork();
        if (pid == 0) _exit(body());
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST_F(Output, CommitWritesWholeFilesKeepingPermissionBits)
{
    const fs::path kept = dir / "kept.json";
    writeFile(kept, "old");
    fs::permissions(kept, fs::perms::owner_read | fs::perms::owner_write);
    const bool root = geteuid() == 0;  // only root can hand a file to another owner
    if (root) {
        ASSERT_EQ(chown(kept.c_str(), 1234, 1235), 0);
    }
    const std::string big(3 << 20, 'x');  // past the stream buffer, written in one go
    std::string error;
    ASSERT_TRUE(commitOutputs({{kept.string(), {}, [&](std::ostream& o) { o << "{" << big << "}"; }},
                               {(dir / "new.bin").string(), std::string("\0\1\2", 3), {}}},
                              error))
        << error;
    EXPECT_EQ(readFile(kept), "{" + big + "}");
    EXPECT_EQ(readFile(dir / "new.bin"), std::string("\0\1\2", 3));
    EXPECT_EQ(fs::status(kept).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    struct stat st {};
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    if (root) {
        EXPECT_TRUE(st.st_uid == 1234 && st.st_gid == 1235);
    }
    EXPECT_EQ(names(), (std::set<std::string>{"kept.json", "new.bin"})) << "a temporary was left";
}

// Any failure, while writing or while renaming, leaves every target as it was.
TEST_F(Output, FailureReplacesNothingAndLeavesNoTemporary)
{
    writeFile(dir / "a", "old a");
    writeFile(dir / "c", "old c");
    std::string error;
    const auto produced = [](std::ostream& o) { o.setstate(std::ios::badbit); };
    const auto throws = [](std::ostream&) { throw std::runtime_error("scene too large"); };
    for (const auto& bad : std::vector<std::function<void(std::ostream&)>>{produced, throws}) {
        EXPECT_FALSE(commitOutputs({{(dir / "a").string(), "new a", {}}, {(dir / "b").string(), {}, bad}}, error));
        EXPECT_EQ(error.rfind((dir / "b").string() + ": cannot be written", 0), 0u) << error;
    }
    // The rename of the third fails (its name became a folder that is not
    // empty): the two renamed before it are undone, the new one removed.
    fs::create_directories(dir / "d" / "inside");
    EXPECT_FALSE(commitOutputs(
        {{(dir / "a").string(), "new a", {}}, {(dir / "new").string(), "new", {}}, {(dir / "d").string(), "x", {}}},
        error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_EQ(readFile(dir / "a"), "old a");
    EXPECT_EQ(readFile(dir / "c"), "old c");
    EXPECT_EQ(names(), (std::set<std::string>{"a", "c", "d"}));
}

// A write that the system refuses is reported with its reason and costs the
// old file nothing: a file size limit anywhere, a full disk where the tests
// may mount a small tmpfs (as root in a mount namespace of their own).
TEST_F(Output, WriteErrorsCarryTheirReason)
{
    const fs::path target = dir / "dump.json";
    writeFile(target, "old");
    const int limited = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        std::string error;
        const bool ok = commitOutputs({{target.string(), std::string(8192, 'y'), {}}}, error);
        return !ok && error == target.string() + ": cannot be written: file too large" ? 0 : 1;
    });
    EXPECT_EQ(limited, 0);
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(names(), std::set<std::string>{"dump.json"});

    const int full = inChild([&] {
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return 77;
        }
        writeFile(target, "old");
        std::string error;
        const bool ok =
            commitOutputs({{target.string(), {}, [](std::ostream& o) { o << std::string(1 << 20, 'z'); }}}, error);
        const bool kept = readFile(target) == "old" && std::distance(fs::directory_iterator(dir), {}) == 1;
        return !ok && kept && error == target.string() + ": cannot be written: no space left on device" ? 0 : 1;
    });
    if (full == 77) GTEST_SKIP() << "full-disk case skipped: needs root and a mount namespace to mount a small tmpfs";
    EXPECT_EQ(full, 0);
}

// A writer killed mid-file leaves the old file under the name; only a hidden
// temporary of its own remains.
TEST_F(Output, KilledWriterLeavesTheOldFile)
{
    const fs::path target = dir / "scene.json";
    writeFile(target, "old");
    inChild([&] {
        std::string error;
        commitOutputs({{target.string(),
                        {},
                        [](std::ostream& o) {
                            o << std::string(200000, 'p') << std::flush;
                            raise(SIGKILL);
                        }}},
                      error);
        return 0;
    });
    EXPECT_EQ(readFile(target), "old");
    const std::set<std::string> left = names();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left.begin()->rfind(".scene.json.orvik-", 0), 0u) << *left.begin();
}

// Ctrl-C during a commit stops the program once the files are whole and in
// place, leaving no temporary.
TEST_F(Output, InterruptedCommitEndsWithWholeFiles)
{
    const fs::path a = dir / "a.glb", b = dir / "b.json";
    writeFile(a, "old");
    const int status = inChild([&] {
        std::string error;
        commitOutputs({{a.string(), "new", {}},
                       {b.string(),
                        {},
                        [](std::ostream& o) {
                            o << "{";
                            raise(SIGINT);
                            o << "}";
                        }}},
                      error);
        return 0;
    });
    EXPECT_EQ(status, 128 + SIGINT);
    EXPECT_EQ(names(), (std::set<std::string>{"a.glb", "b.json"}));
    EXPECT_EQ(readFile(a), "new");
    EXPECT_EQ(readFile(b), "{}");
}

// Several processes committing the same names at once: every file is always
// whole and from one writer.
TEST_F(Output, ConcurrentWritersNeverMixTheirFiles)
{
    constexpr int kWriters = 6;
    constexpr int kRounds = 15;
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string body(100000 + 1000 * w, static_cast<char>('a' + w));
            std::string error;
            for (int r = 0; r < kRounds; ++r) {
                if (!commitOutputs({{(dir / "x.json").string(), body, {}}, {(dir / "x.glb").string(), body + "!", {}}},
                                   error)) {
                    _exit(1);
                }
            }
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (const pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (const char* name : {"x.json", "x.glb"}) {
        const std::string text = readFile(dir / name);
        ASSERT_FALSE(text.empty());
        const int w = text[0] - 'a';
        const std::size_t size = 100000 + 1000 * static_cast<std::size_t>(w) + (name[2] == 'g' ? 1 : 0);
        EXPECT_EQ(text.size(), size) << name;
        EXPECT_EQ(text.find_first_not_of(text[0]), name[2] == 'g' ? size - 1 : std::string::npos) << name;
    }
    EXPECT_EQ(names(), (std::set<std::string>{"x.glb", "x.json"}));
}

// What the check refuses before anything is made, and what it lets through.
TEST_F(Output, CheckRefusesClashesAndUnusableTargets)
{
    fs::create_directory(dir / "sub");
    fs::create_directory_symlink(dir / "sub", dir / "alias");
    writeFile(dir / "model.dff", "m");
    fs::create_hard_link(dir / "model.dff", dir / "hard.dff");
    writeFile(dir / "victim", "v");
    fs::create_symlink(dir / "victim", dir / "link.json");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string d = dir.string();
    const std::string longName(256, 'n');
    struct Case {
        std::vector<std::string> targets;
        std::string why;  // "" when allowed
    };
    const std::vector<Case> cases = {
        {{d + "/sub/y.glb", d + "/alias/../sub/./y.glb"}, "is the same file as the output"},
        {{d + "/alias/y.glb", d + "/sub/y.glb"}, "is the same file as the output"},
        {{d + "/model.dff"}, "would overwrite the model file"},
        {{d + "/hard.dff"}, "would overwrite the model file"},
        {{d + "/missing/x.json"}, "does not exist"},
        {{d + "/sub"}, "is a folder"},
        {{d + "/sub/"}, "names a folder"},
        {{d + "/fifo"}, "is not a regular file"},
        {{d + "/" + longName}, "is too long"},
        {{d + "/" + std::string(250, 'n'), d + "/sub/x.json", d + "/x.json"}, ""},
    };
    for (const Case& c : cases) {
        const std::string why = orvik::checkOutputTargets(c.targets, {{d + "/model.dff", "the model file"}});
        if (c.why.empty()) {
            EXPECT_EQ(why, "") << c.targets[0];
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << c.targets[0] << " -> " << why;
        }
    }
    // A name near the longest allowed still commits (its temporary is
    // shortened); a link under a target's name is replaced, not followed.
    std::string error;
    ASSERT_TRUE(commitOutputs({{d + "/" + std::string(250, 'n'), "long", {}}, {d + "/link.json", "new", {}}}, error))
        << error;
    EXPECT_EQ(readFile(dir / std::string(250, 'n')), "long");
    EXPECT_EQ(readFile(dir / "victim"), "v");
    EXPECT_FALSE(fs::is_symlink(dir / "link.json"));
    EXPECT_EQ(readFile(dir / "link.json"), "new");
}

// The file beside another with a new extension is found in any case, the
// spelling asked for first, else the first in sorted order; folders do not
// count (a FIFO does, to be refused where it is opened).
TEST_F(Output, SiblingsAreFoundInAnyCaseFoldersApart)
{
    writeFile(dir / "a.img", "");
    writeFile(dir / "b.img", "");
    writeFile(dir / "b.dir", "");
    writeFile(dir / "B.DIR", "");
    writeFile(dir / "c.IMG", "");
    writeFile(dir / "c.Dir", "");
    writeFile(dir / "c.DIR", "");
    fs::create_directory(dir / "d.dir");
    writeFile(dir / "d.DIR2", "");
    writeFile(dir / "e.f.img", "");
    writeFile(dir / "e.dir", "");
    ASSERT_EQ(mkfifo((dir / "f.DIR").c_str(), 0600), 0);
    const std::string d = dir.string() + "/";
    const struct {
        std::string path, extension, found;
    } cases[] = {
        {d + "a.img", ".dir", ""},          {d + "b.img", ".dir", d + "b.dir"},  // the spelling asked for
        {d + "c.IMG", ".dir", d + "c.DIR"},                                      // sorted: upper case first
        {d + "d.img", ".dir", ""},                                               // a folder is no index
        {d + "e.f.img", ".dir", ""},                                             // only the last extension goes
        {d + "B.DIR", ".img", d + "b.img"}, {d + "f.img", ".dir", d + "f.DIR"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvik::siblingWithExtension(c.path, c.extension), c.found) << c.path;
    }
}

// Names taken apart as the commands name their outputs and choose readers.
TEST(Paths, StemsAndExtensionsOfFileNames)
{
    const struct {
        std::string path, stem, extension;
    } cases[] = {
        {"car.DFF", "car", ".dff"},         {"a.b.dff", "a.b", ".dff"}, {".dff", ".dff", ""},
        {"dir.x/model", "dir.x/model", ""}, {"noext", "noext", ""},     {"x.", "x", "."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvik::stemOf(c.path), c.stem) << c.path;
        EXPECT_EQ(orvik::extensionOf(c.path), c.extension) << c.path;
    }
    EXPECT_EQ(orvik::caseBlindName("Car.txd", {"car.TXD", "CAR.txd", "car.txd2"}), "CAR.txd");
    EXPECT_EQ(orvik::caseBlindName("car.txd", {"CAR.TXD", "car.txd"}), "car.txd");
    EXPECT_EQ(orvik::hexNumber(0), "0x0");
    EXPECT_EQ(orvik::hexNumber(0x1803FFFF), "0x1803FFFF");
    EXPECT_EQ(orvik::hex32(0x310), "0x00000310");
    EXPECT_EQ(orvik::plural(1, "vertex", "vertices") + ", " + orvik::plural(0, "face", "faces"), "1 vertex, 0 faces");
}

// A file read by offsets says where it ended when it is shorter than asked.
TEST_F(Output, ReadsByOffsetStopAtTheEndWithItsPlace)
{
    writeFile(dir / "ten", "0123456789");
    orvik::RegularFile file;
    std::string problem;
    ASSERT_TRUE(file.open((dir / "ten").string(), orvik::Links::follow, problem)) << problem;
    EXPECT_EQ(file.size(), 10u);
    char bytes[8] = {};
    EXPECT_TRUE(file.readAt(6, bytes, 4, problem));
    EXPECT_EQ(std::string(bytes, 4), "6789");
    EXPECT_FALSE(file.readAt(8, bytes, 4, problem));
    EXPECT_NE(problem.find("ends after 10 bytes, 2 bytes short"), std::string::npos) << problem;
}

}  // namespace
