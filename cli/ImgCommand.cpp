#include "cli/ImgCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <set>

#include "support/Files.h"
#include "cli/BatchFiles.h"
#include "cli/ExitStatus.h"
#include "support/Text.h"
#include "img/ImgArchive.h"

namespace orvik {

ImgCommand addImgCommand(CLI::App& app, ImgOptions& opt)
{
    ImgCommand c;
    c.img = app.add_subcommand("img", "List or extract the members of an IMG archive");
    c.img->require_subcommand(1);
    c.list = c.img->add_subcommand("list", "List the archive's members");
    c.list->add_option("ARCHIVE", opt.archive, "The archive: a .img, or the .dir of a version 1 archive")->required();
    c.extract = c.img->add_subcommand("extract", "Write members of the archive into a folder");
    c.extract->add_option("ARCHIVE", opt.archive, "The archive: a .img, or the .dir of a version 1 archive")
        ->required();
    c.extract->add_option("DIR", opt.folder, "The folder to write into (made when missing)")->required();
    c.extract->add_option("NAME", opt.names, "Members to write (all when none; any case)");
    return c;
}

int runImgCommand(const ImgCommand& c, const ImgOptions& opt)
{
    if (c.list->parsed()) return listImg(opt.archive, std::cout, std::cerr);
    return extractImg(opt.archive, opt.folder, opt.names, std::cout, std::cerr);
}

int listImg(const std::string& archivePath, std::ostream& out, std::ostream& err)
{
    img::Archive archive;
    std::string error;
    if (!archive.open(archivePath, error)) {
        err << "orvik: " << printable(error) << "\n";
        return kExitUsage;
    }
    const img::Index& index = archive.index();
    out << printable(archive.dataPath()) << ": version " << static_cast<int>(index.version) << ", "
        << index.entries.size() << (index.entries.size() == 1 ? " entry" : " entries");
    if (index.version == img::Version::v1) out << ", index " << printable(archive.indexPath());
    out << "\n";
    out << std::setw(12) << "offset" << std::setw(12) << "size" << "  name\n";
    for (const img::Entry& e : index.entries) {
        out << std::setw(12) << e.offset << std::setw(12) << e.size << "  " << printable(e.name);
        const std::string nameWhy = img::nameProblem(e.name);
        if (!e.problem.empty()) out << "  (unreadable: " << e.problem << ")";
        if (!nameWhy.empty()) out << "  (not extracted: " << nameWhy << ")";
        out << "\n";
    }
    for (const std::string& note : index.notes) out << "note: " << note << "\n";
    out.flush();
    return kExitOk;
}

int extractImg(const std::string& archivePath, const std::string& dir, const std::vector<std::string>& names,
               std::ostream& out, std::ostream& err)
{
    img::Archive archive;
    std::string error;
    if (!archive.open(archivePath, error)) {
        err << "orvik: " << printable(error) << "\n";
        return kExitUsage;
    }
    const auto& entries = archive.index().entries;
    // Every name asked for must be in the archive before anything is written.
    std::set<std::string> wanted;
    bool missing = false;
    for (const std::string& n : names) {
        bool found = false;
        for (const img::Entry& e : entries) found = found || img::sameName(e.name, n);
        if (!found) {
            err << "orvik: " << printable(archivePath) << ": no member named " << printable(n) << "\n";
            missing = true;
        }
        wanted.insert(asciiLower(n));
    }
    if (missing) return kExitUsage;
    std::string why;
    if (!makeFolder(dir, why)) {
        err << "orvik: " << printable(dir) << ": " << why << "\n";
        return kExitUsage;
    }

    std::set<std::string> written;  // lower-case names already extracted
    std::size_t done = 0;
    std::size_t failed = 0;
    std::vector<unsigned char> bytes;
    for (const img::Entry& e : entries) {
        if (!wanted.empty() && wanted.count(asciiLower(e.name)) == 0) continue;
        std::string reason = img::nameProblem(e.name);
        if (reason.empty() && !written.insert(asciiLower(e.name)).second) {
            reason = "a member of the same name was extracted before it";
        }
        const std::string target = dir + "/" + e.name;
        if (reason.empty() && (sameFile(target, archive.dataPath()) || sameFile(target, archive.indexPath()))) {
            reason = "it would replace the archive";
        }
        if (reason.empty() && !archive.read(e, bytes, reason)) {
            // reason set by read
        }
        if (reason.empty() && !writeOutputFile(target, bytes, reason)) {
            // reason set by the writer
        }
        if (!reason.empty()) {
            err << "orvik: " << printable(archive.dataPath()) << ": " << printable(e.name) << ": " << reason << "\n";
            ++failed;
            continue;
        }
        ++done;
    }
    out << done << (done == 1 ? " member" : " members") << " extracted to " << printable(dir);
    if (failed > 0) out << ", " << failed << " not extracted";
    out << "\n";
    out.flush();
    return failed == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace orvik
