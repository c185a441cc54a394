// What `orvik convert` settles before the first model converts: the models
// found in the inputs (files, folders walked, archives' members), each with
// its outputs below DIR and, when it cannot be converted, why; the files the
// outputs must never replace; and the check of the report's target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/Convert.h"
#include "img/ImgArchive.h"
#include "support/FileIo.h"

namespace orvik {

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct Model {
    std::string shown;                    // how messages and the report name it
    std::string file;                     // the model file; for a member, the archive's .img
    std::size_t archive = kNone;          // index into the archives, or kNone
    std::size_t entry = 0;                // the member's index entry
    std::string relative;                 // its outputs below DIR, without extension
    std::string dictionaryFile;           // the dictionary of the same name beside it
    std::size_t dictionaryEntry = kNone;  // the dictionary of the same name in its archive
    std::string problem;                  // why it cannot be converted, known before any import
};

// Files the outputs must never replace, by identity.
class InputFiles {
public:
    void add(const std::string& path)
    {
        const FileId id = fileIdOf(path);
        if (id.exists) ids.insert(id);
    }
    bool holds(const std::string& path) const
    {
        const FileId id = fileIdOf(path);
        return id.exists && ids.count(id) > 0;
    }

private:
    std::set<FileId> ids;
};

class ConvertPlan {
public:
    explicit ConvertPlan(const ConvertOptions& options) : opt(options) {}

    // Finds the models of every input. False with one line for an input
    // that cannot be used (the run's usage error).
    bool collect(std::string& why);
    // Settles every model's outputs (see the README): a model whose outputs
    // cannot be written gets its problem here, whatever the workers.
    void settleOutputs();
    // Why --report cannot be written ("" when it can or none is asked for).
    std::string checkReport() const;
    // A model's files below DIR, in commit order: the glTF (and its .bin),
    // then the dump.
    std::vector<std::string> targetsOf(const Model& m) const;

    std::vector<std::unique_ptr<img::Archive>> archives;
    std::vector<Model> models;
    InputFiles inputFiles;
    std::vector<std::string> problems;  // folders that could not be listed, entries outside archives
    std::size_t entriesOutside = 0;     // archive entries pointing outside their archive
    std::vector<std::string> notes;     // empty members passed over (no failure)
    std::size_t emptyMembers = 0;       // .dff members of no bytes, passed over
    // .dff members whose bytes overlap an earlier member's: passed over with
    // a line each, made when shown, and counted in the report. Two numbers
    // each, so that an index of overlapping entries holds no model each.
    struct Overlap {
        std::uint32_t archive;
        std::uint32_t entry;
    };
    std::vector<Overlap> overlapping;

    // Everything passed over while collecting, one line each, to err: the
    // problems, the overlapping members and the notes.
    void writePassedOver(std::ostream& err) const;

private:
    bool addFolder(const std::string& folder, std::string& why);
    bool addArchive(const std::string& path, std::string& why);
    void addModelFile(const std::string& path, const std::string& relative);
    void walkFolder(const std::filesystem::path& folder, std::vector<std::filesystem::path>& found);

    const ConvertOptions& opt;
    std::map<std::string, std::vector<std::string>> dictionariesIn;  // folder -> its .txd files
};

}  // namespace orvik
