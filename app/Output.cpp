#include "app/Output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/Text.h"

namespace orvik {

bool commitOutputs(const std::vector<OutputFile>& outputs, std::string& error)
{
    std::vector<std::string> temps;
    auto cleanup = [&] {
        for (const std::string& t : temps) ::unlink(t.c_str());
    };
    for (const OutputFile& o : outputs) {
        std::string temp = o.path + ".XXXXXX";
        const int fd = ::mkstemp(temp.data());
        if (fd < 0) {
            error = o.path + ": cannot be written: " + errorText(errno);
            cleanup();
            return false;
        }
        temps.push_back(temp);
        std::size_t done = 0;
        bool ok = true;
        while (ok && done < o.bytes.size()) {
            const ssize_t n = ::write(fd, o.bytes.data() + done, o.bytes.size() - done);
            ok = n > 0;
            done += ok ? static_cast<std::size_t>(n) : 0;
        }
        const int err = errno;
        if (::close(fd) != 0 || !ok) {
            error = o.path + ": cannot be written: " + errorText(ok ? errno : err);
            cleanup();
            return false;
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (::rename(temps[i].c_str(), outputs[i].path.c_str()) != 0) {
            error = outputs[i].path + ": cannot be written: " + errorText(errno);
            temps.erase(temps.begin(), temps.begin() + static_cast<std::ptrdiff_t>(i));
            cleanup();
            return false;
        }
    }
    return true;
}

}  // namespace orvik
