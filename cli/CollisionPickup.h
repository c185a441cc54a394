// convert's collision from .col files: a model that holds no collision of its
// own gets the entry of its name from a .col file in its folder or in its
// archive. Each worker reads a folder's or an archive's .col files once, when
// a model there first asks, and keeps where each entry lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cli/ConvertPlan.h"
#include "col/Collision.h"

namespace orvik {

class CollisionPickup {
public:
    explicit CollisionPickup(const std::vector<std::unique_ptr<img::Archive>>& inputArchives) : archives(inputArchives)
    {
    }

    // The entry named after the model (its file's stem, any case) from the
    // .col files beside it; false when there is none.
    bool find(const Model& m, col::Model& entry);

private:
    struct Place {
        std::string file;           // the .col file, or the archive's .img
        std::size_t entry = kNone;  // the .col member of the archive
        std::uint64_t offset = 0;   // of the entry in the file or member
        std::uint64_t size = 0;
    };
    // The entries of the folder's or the archive's .col files, by model name
    // in lower case (the first of a name wins).
    const std::map<std::string, Place>& entriesBeside(const Model& m);

    const std::vector<std::unique_ptr<img::Archive>>& archives;
    std::map<std::string, std::map<std::string, Place>> places;  // by folder or archive
};

}  // namespace orvik
