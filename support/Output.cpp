#include "support/Output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <streambuf>

#include "support/FileIo.h"
#include "support/Text.h"

namespace orvik {
namespace {

// "." + stem + kTempMark + 12 hex digits: hidden, and recognisable as ours.
constexpr const char* kTempMark = ".orvik-";
constexpr std::size_t kTempRandomDigits = 12;
constexpr int kTempAttempts = 64;

struct SplitPath {
    std::string dir;   // "." when the path has no folder part
    std::string name;  // "" when the path ends in '/'
};

SplitPath splitPath(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string joinPath(const std::string& dir, const std::string& name)
{
    return dir == "/" ? "/" + name : dir + "/" + name;
}

std::size_t nameMax(const std::string& dir)
{
    const long n = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    return n > 0 ? static_cast<std::size_t>(n) : std::size_t{NAME_MAX};
}

// A stream buffer over a file descriptor that keeps the first write error.
class FdBuf : public std::streambuf {
public:
    explicit FdBuf(int f) : fd(f), buf(new char[kSize]) { setp(buf.get(), buf.get() + kSize); }
    int error() const { return err; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        if (static_cast<std::size_t>(n) < kSize) return std::streambuf::xsputn(s, n);
        if (!drain() || !writeAll(fd, s, static_cast<std::size_t>(n), err)) return 0;
        return n;
    }

private:
    static constexpr std::size_t kSize = 1 << 16;
    bool drain()
    {
        if (err != 0) return false;
        const auto n = static_cast<std::size_t>(pptr() - pbase());
        setp(buf.get(), buf.get() + kSize);
        return writeAll(fd, buf.get(), n, err);
    }
    int fd;
    std::unique_ptr<char[]> buf;
    int err = 0;
};

std::string randomDigits()
{
    unsigned char bytes[kTempRandomDigits / 2] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy at hand: the process id, the time and a counter still
        // differ between writers; O_EXCL settles the rest.
        static std::uint64_t counter = 0;
        std::uint64_t v = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          (++counter << 40);
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(v);
            v = (v >> 8) | (v << 56);
        }
    }
    std::uint64_t value = 0;
    for (const unsigned char b : bytes) value = value << 8 | b;
    return hexDigits(value, static_cast<int>(kTempRandomDigits), false);
}

// A fresh name beside `name` in the folder: the name shortened as needed so
// that the temporary fits the folder's name length.
std::string tempNameFor(const std::string& name, std::size_t maxLength)
{
    const std::size_t fixed = 1 + std::char_traits<char>::length(kTempMark) + kTempRandomDigits;
    const std::size_t room = maxLength > fixed ? maxLength - fixed : 0;
    std::string temp = ".";
    temp.append(name, 0, room);
    temp += kTempMark;
    temp += randomDigits();
    return temp;
}

// Creates a temporary beside `name` in dirFd: exclusive, never through a link.
int createTemp(int dirFd, const std::string& name, std::size_t maxLength, std::string& temp, int& err)
{
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        temp = tempNameFor(name, maxLength);
        const int fd =
            ::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    err = errno;
    temp.clear();
    return -1;
}

// One output on its way: the folder, the temporary and, while the rename
// phase runs, a link to the file it replaces.
struct Pending {
    std::string path;
    std::string name;
    int dirFd = -1;
    std::string temp;      // "" once renamed or removed
    std::string backup;    // link to the replaced file, "" when none
    bool existed = false;  // a file was under the name before the rename
    bool replaced = false;
};

class PendingSet {
public:
    std::vector<Pending> items;
    PendingSet() = default;
    PendingSet(const PendingSet&) = delete;
    PendingSet& operator=(const PendingSet&) = delete;
    ~PendingSet()
    {
        for (Pending& p : items) {
            if (!p.temp.empty()) ::unlinkat(p.dirFd, p.temp.c_str(), 0);
            if (!p.backup.empty()) ::unlinkat(p.dirFd, p.backup.c_str(), 0);
            if (p.dirFd >= 0) ::close(p.dirFd);
        }
    }
    // Puts back what the renames so far replaced, newest first.
    void rollBack()
    {
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            if (!it->replaced) continue;
            if (!it->backup.empty()) {
                if (::renameat(it->dirFd, it->backup.c_str(), it->dirFd, it->name.c_str()) == 0) it->backup.clear();
            } else if (!it->existed) {
                ::unlinkat(it->dirFd, it->name.c_str(), 0);
            }
            it->replaced = false;
        }
    }
};

std::string cannotWrite(const std::string& path, int err)
{
    return path + ": cannot be written: " + errorText(err);
}

// Writes one output's content into its temporary and closes it.
bool writeTemp(Pending& p, const OutputFile& out, std::string& error)
{
    const std::size_t maxLength = nameMax(splitPath(out.path).dir);
    int err = 0;
    const int fd = createTemp(p.dirFd, p.name, maxLength, p.temp, err);
    if (fd < 0) {
        error = cannotWrite(out.path, err);
        return false;
    }
    bool ok = true;
    // An existing file's permission bits stay with the name.
    struct stat st {};
    if (::fstatat(p.dirFd, p.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = out.path + ": cannot be written: it is a folder";
            ok = false;
        } else if (S_ISREG(st.st_mode)) {
            // The owner too where this process may give it (as root); a
            // user's own replacement of another's file becomes theirs, as
            // with any editor that saves through a new file.
            if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd, st.st_uid, st.st_gid) != 0 &&
                errno != EPERM) {
                error = cannotWrite(out.path, errno);
                ok = false;
            }
            if (ok && ::fchmod(fd, st.st_mode & 07777) != 0) {
                error = cannotWrite(out.path, errno);
                ok = false;
            }
        }
    }
    if (ok && !out.write) {
        ok = writeAll(fd, out.bytes.data(), out.bytes.size(), err);
        if (!ok) error = cannotWrite(out.path, err);
    } else if (ok) {
        FdBuf buf(fd);
        std::ostream stream(&buf);
        try {
            out.write(stream);
            stream.flush();
        } catch (const std::exception& e) {
            error = out.path + ": cannot be written: " + e.what();
            ok = false;
        }
        if (ok && (buf.error() != 0 || !stream)) {
            error = buf.error() != 0 ? cannotWrite(out.path, buf.error())
                                     : out.path + ": cannot be written: its content could not be produced";
            ok = false;
        }
    }
    if (ok && ::fsync(fd) != 0) {
        error = cannotWrite(out.path, errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = cannotWrite(out.path, errno);
        ok = false;
    }
    return ok;
}

// Renames each temporary over its target, keeping a link to each replaced
// file until all are in place so that a failure can put the old ones back.
bool renameAll(PendingSet& set, std::string& error)
{
    for (Pending& p : set.items) {
        struct stat st {};
        p.existed = ::fstatat(p.dirFd, p.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (p.existed) {
            // A file system without hard links cannot keep the old file;
            // the rename itself is still atomic.
            for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
                std::string backup = tempNameFor(p.name, nameMax(splitPath(p.path).dir));
                if (::linkat(p.dirFd, p.name.c_str(), p.dirFd, backup.c_str(), 0) == 0) {
                    p.backup = backup;
                    break;
                }
                if (errno != EEXIST) break;
            }
        }
        if (::renameat(p.dirFd, p.temp.c_str(), p.dirFd, p.name.c_str()) != 0) {
            error = cannotWrite(p.path, errno);
            set.rollBack();
            return false;
        }
        p.temp.clear();
        p.replaced = true;
    }
    for (Pending& p : set.items) {
        if (!p.backup.empty()) {
            ::unlinkat(p.dirFd, p.backup.c_str(), 0);
            p.backup.clear();
        }
        // The new names are on disk once their folders are; a folder that
        // cannot be synchronised (EINVAL on some file systems) loses nothing.
        ::fsync(p.dirFd);
    }
    return true;
}

// Why one target cannot be written, "" when it can; sets key.
std::string checkTarget(const std::string& path, std::string& key)
{
    if (path.empty()) return "an output file name is empty";
    const SplitPath sp = splitPath(path);
    if (sp.name.empty() || sp.name == "." || sp.name == "..") return path + ": names a folder, not a file";
    char real[PATH_MAX];
    if (::realpath(sp.dir.c_str(), real) == nullptr) {
        const int err = errno;
        if (err == ENOENT) return path + ": the folder " + sp.dir + " does not exist";
        if (err == ENOTDIR) return path + ": " + sp.dir + " is not a folder";
        return path + ": the folder " + sp.dir + " cannot be used: " + errorText(err);
    }
    struct stat dirStat {};
    if (::stat(real, &dirStat) != 0 || !S_ISDIR(dirStat.st_mode)) return path + ": " + sp.dir + " is not a folder";
    if (::access(real, W_OK | X_OK) != 0) {
        return path + ": the folder " + sp.dir + " cannot be written: " + errorText(errno);
    }
    const std::size_t maxLength = nameMax(real);
    if (sp.name.size() > maxLength) {
        return path + ": the file name of " + std::to_string(sp.name.size()) + " bytes is too long (at most " +
               std::to_string(maxLength) + ")";
    }
    key = joinPath(real, sp.name);
    struct stat st {};
    if (::lstat(key.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return path + ": is a folder";
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return path + ": is not a regular file";
    }
    return {};
}

}  // namespace

std::string outputKey(const std::string& path)
{
    const SplitPath sp = splitPath(path);
    if (sp.name.empty() || sp.name == "." || sp.name == "..") return {};
    char real[PATH_MAX];
    if (::realpath(sp.dir.c_str(), real) == nullptr) return {};
    return joinPath(real, sp.name);
}

std::string checkOutputTargets(const std::vector<std::string>& targets, const std::vector<ProtectedFile>& inputs)
{
    std::vector<std::string> keys(targets.size());
    std::vector<FileId> ids(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const std::string why = checkTarget(targets[i], keys[i]);
        if (!why.empty()) return why;
        ids[i] = fileIdOf(keys[i]);
        for (std::size_t j = 0; j < i; ++j) {
            if (keys[i] == keys[j] || ids[i] == ids[j]) {
                return targets[i] + ": is the same file as the output " + targets[j];
            }
        }
    }
    for (const ProtectedFile& input : inputs) {
        const std::string key = outputKey(input.path);
        const FileId id = fileIdOf(input.path);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            if ((!key.empty() && key == keys[i]) || id == ids[i]) {
                return targets[i] + ": would overwrite " + input.what + " " + input.path;
            }
        }
    }
    return {};
}

namespace {

// Holds back the signals a user sends to stop the program (Ctrl-C, a hang-up,
// kill's default) while the outputs are committed, so that an interrupted
// run leaves whole files and no temporaries; they are delivered as soon as
// the commit is done.
class DeferStopSignals {
public:
    DeferStopSignals()
    {
        sigset_t stop;
        sigemptyset(&stop);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop, sig);
        held = ::sigprocmask(SIG_BLOCK, &stop, &before) == 0;
    }
    ~DeferStopSignals()
    {
        if (held) ::sigprocmask(SIG_SETMASK, &before, nullptr);
    }
    DeferStopSignals(const DeferStopSignals&) = delete;
    DeferStopSignals& operator=(const DeferStopSignals&) = delete;

private:
    sigset_t before{};
    bool held = false;
};

}  // namespace

bool commitOutputs(const std::vector<OutputFile>& outputs, std::string& error)
{
    const DeferStopSignals deferred;
    PendingSet set;
    set.items.resize(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        Pending& p = set.items[i];
        const SplitPath sp = splitPath(outputs[i].path);
        p.path = outputs[i].path;
        p.name = sp.name;
        if (sp.name.empty() || sp.name == "." || sp.name == "..") {
            error = outputs[i].path + ": names a folder, not a file";
            return false;
        }
        p.dirFd = ::open(sp.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (p.dirFd < 0) {
            error = cannotWrite(outputs[i].path, errno);
            return false;
        }
        if (!writeTemp(p, outputs[i], error)) return false;
    }
    return renameAll(set, error);
}

}  // namespace orvik
