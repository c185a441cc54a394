#include "cli/ImgCommand.h"

#include <cstdint>
#include <iomanip>
#include <iostream>
#include <set>
#include <stdexcept>
#include <unordered_set>

#include "cli/BatchFiles.h"
#include "cli/ExitStatus.h"
#include "cli/Plugin.h"
#include "img/ImgArchive.h"
#include "support/Output.h"
#include "support/Text.h"

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
        err << "orvik: " << printablePath(error) << "\n";
        return kExitUsage;
    }
    const img::Index& index = archive.index();
    out << printablePath(archive.dataPath()) << ": version " << static_cast<int>(index.version) << ", "
        << plural(index.entries.size(), "entry", "entries");
    if (index.version == img::Version::v1) out << ", index " << printablePath(archive.indexPath());
    out << "\n";
    // Offsets reach 13 digits (2^32 sectors of 2048 bytes): the columns keep
    // a space between them whatever the width.
    out << std::setw(14) << "offset"
        << " " << std::setw(12) << "size"
        << "  name\n";
    for (const img::Entry& e : index.entries) {
        const std::string name(e.name());
        out << std::setw(14) << e.offset << " " << std::setw(12) << e.size << "  " << printable(name);
        const std::string nameWhy = img::nameProblem(name);
        if (!e.readable()) out << "  (unreadable: " << printable(index.problemText(e)) << ")";
        if (!nameWhy.empty()) out << "  (not extracted: " << nameWhy << ")";
        out << "\n";
    }
    for (const std::string& note : index.notes) out << "note: " << note << "\n";
    return standardOutputWritten(out, err) ? kExitOk : kExitUsage;
}

namespace {

// A set of entries by their names in any case, held as entry numbers: the
// names stay in the index's records.
class NameSet {
public:
    explicit NameSet(const std::vector<img::Entry>& e) : set(0, Hash{&e}, Same{&e}) {}
    bool holds(std::size_t i) const { return set.count(static_cast<std::uint32_t>(i)) != 0; }
    void add(std::size_t i) { set.insert(static_cast<std::uint32_t>(i)); }

private:
    struct Hash {
        const std::vector<img::Entry>* entries;
        std::size_t operator()(std::uint32_t i) const { return img::nameHash((*entries)[i].name()); }
    };
    struct Same {
        const std::vector<img::Entry>* entries;
        bool operator()(std::uint32_t a, std::uint32_t b) const
        {
            return img::sameName((*entries)[a].name(), (*entries)[b].name());
        }
    };
    std::unordered_set<std::uint32_t, Hash, Same> set;
};

}  // namespace

int extractImg(const std::string& archivePath, const std::string& dir, const std::vector<std::string>& names,
               std::ostream& out, std::ostream& err)
{
    img::Archive archive;
    std::string error;
    if (!archive.open(archivePath, error)) {
        err << "orvik: " << printablePath(error) << "\n";
        return kExitUsage;
    }
    const img::Index& index = archive.index();
    const auto& entries = index.entries;
    // Every name asked for must be in the archive before anything is written.
    std::set<std::string> wanted;
    bool missing = false;
    for (const std::string& n : names) {
        bool found = false;
        for (const img::Entry& e : entries) found = found || img::sameName(e.name(), n);
        if (!found) {
            err << "orvik: " << printablePath(archivePath) << ": no member named " << printablePath(n) << "\n";
            missing = true;
        }
        wanted.insert(asciiLower(n));
    }
    if (missing) return kExitUsage;
    std::string why;
    if (!makeFolder(dir, why)) {
        err << "orvik: " << printablePath(why) << "\n";
        return kExitUsage;
    }

    // The plan, before the first member is written: which members are
    // written, each target checked as every output is (a regular file or
    // nothing, never the archive); what cannot be extracted is said in one
    // line each, entries pointing outside the archive and empty members in
    // one line for each kind. The plan holds entry numbers only.
    const std::string shown = printablePath(archive.dataPath());
    const std::vector<ProtectedFile> inputs = {{archive.dataPath(), "the archive"},
                                               {archive.indexPath(), "the archive's index"}};
    NameSet taken(entries);
    std::vector<std::uint32_t> plan;
    std::size_t failed = 0;
    std::size_t outside = 0;
    std::size_t empty = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const img::Entry& e = entries[i];
        const std::string name(e.name());
        if (!wanted.empty() && wanted.count(asciiLower(name)) == 0) continue;
        if (e.outside()) {
            ++outside;
            continue;
        }
        if (e.empty()) {
            ++empty;
            continue;
        }
        std::string reason = img::nameProblem(name);
        if (reason.empty()) reason = index.problemText(e);
        if (reason.empty() && taken.holds(i)) reason = "a member of the same name was extracted before it";
        const std::string target = dir + "/" + name;
        if (reason.empty()) {
            reason = checkOutputTargets({target}, inputs);
            if (reason.rfind(target + ": ", 0) == 0) reason.erase(0, target.size() + 2);
        }
        if (!reason.empty()) {
            err << "orvik: " << shown << ": " << printable(name) << ": " << printablePath(reason) << "\n";
            ++failed;
            continue;
        }
        taken.add(i);
        plan.push_back(static_cast<std::uint32_t>(i));
    }
    if (outside > 0) {
        err << "orvik: " << shown << ": " << plural(outside, "entry points", "entries point")
            << " outside the archive; passed over\n";
    }
    if (empty > 0) {
        err << "orvik: " << shown << ": " << plural(empty, "member is", "members are") << " empty; passed over\n";
    }
    // Each member copied in bounded pieces and committed on its own: one
    // that cannot be read or written is passed over, the rest still extracted.
    std::size_t done = 0;
    for (const std::uint32_t i : plan) {
        const img::Entry& e = entries[i];
        std::string readError;
        OutputFile file{dir + "/" + std::string(e.name()), {}, [&](std::ostream& os) {
                            const auto sink = [&os](const unsigned char* piece, std::size_t n) {
                                os.write(reinterpret_cast<const char*>(piece), static_cast<std::streamsize>(n));
                                return static_cast<bool>(os);
                            };
                            if (!archive.copy(e, sink, readError) && !readError.empty()) {
                                throw std::runtime_error(readError);
                            }
                        }};
        std::string writeError;
        if (!commitOutputs({file}, writeError)) {
            const std::string reason = !readError.empty() ? readError : writeError;
            err << "orvik: " << shown << ": " << printable(std::string(e.name())) << ": " << printablePath(reason)
                << "\n";
            ++failed;
            continue;
        }
        ++done;
    }
    out << plural(done, "member", "members") << " extracted to " << printablePath(dir);
    if (failed + outside > 0) out << ", " << failed + outside << " not extracted";
    out << "\n";
    if (!standardOutputWritten(out, err)) return kExitUsage;
    return failed + outside == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace orvik
