#include "cli/CollisionPickup.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "support/FileIo.h"
#include "support/Paths.h"
#include "support/Text.h"

namespace fs = std::filesystem;

namespace orvik {
namespace {

// A .col file is read whole: one larger than this is passed over.
constexpr std::uint64_t kMaxCollisionFile = std::uint64_t{1} << 30;

bool hasColExtension(const std::string& name)
{
    return asciiLower(fs::path(name).extension().string()) == ".col";
}

}  // namespace

const std::map<std::string, CollisionPickup::Place>& CollisionPickup::entriesBeside(const Model& m)
{
    const std::string key = m.archive == kNone ? "folder " + fs::path(m.file).parent_path().string()
                                               : "archive " + std::to_string(m.archive);
    const auto [found, fresh] = places.try_emplace(key);
    std::map<std::string, Place>& names = found->second;
    if (!fresh) return names;
    auto index = [&](std::span<const std::uint8_t> bytes, Place place) {
        for (const col::Model& entry : col::readCollision(bytes).models) {
            place.offset = entry.offset, place.size = entry.size;
            names.try_emplace(asciiLower(entry.name), place);
        }
    };
    if (m.archive == kNone) {
        std::error_code ec;
        std::vector<fs::path> files;
        const fs::path folder = fs::path(m.file).parent_path().empty() ? fs::path(".") : fs::path(m.file).parent_path();
        for (const fs::directory_entry& e : fs::directory_iterator(folder, ec))
            if (hasColExtension(e.path().string())) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            // Found by a search: a link is not followed, and only regular files of bounded size are read.
            RegularFile file;
            std::vector<std::uint8_t> bytes;
            std::string problem;
            if (!file.open(f.string(), Links::refuse, problem) || file.size() > kMaxCollisionFile ||
                !file.readAll(bytes, problem))
                continue;
            index(bytes, Place{f.string(), kNone, 0, 0});
        }
    } else {
        const img::Archive& a = *archives[m.archive];
        const auto& entries = a.index().entries;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!hasColExtension(std::string(entries[i].name())) || !entries[i].readable()) continue;
            std::vector<unsigned char> bytes;
            std::string why;
            if (!a.read(entries[i], bytes, why)) continue;
            index(bytes, Place{a.dataPath(), i, 0, 0});
        }
    }
    return names;
}

bool CollisionPickup::find(const Model& m, col::Model& entry)
{
    const auto& names = entriesBeside(m);
    const std::string name =
        m.archive == kNone ? m.file : std::string(archives[m.archive]->index().entries[m.entry].name());
    const auto found = names.find(asciiLower(stemOf(fs::path(name).filename().string())));
    if (found == names.end()) return false;
    const Place& place = found->second;
    std::vector<std::uint8_t> bytes;
    if (place.entry == kNone) {
        RegularFile file;
        std::string problem;
        bytes.resize(static_cast<std::size_t>(place.size));
        if (!file.open(place.file, Links::refuse, problem) ||
            !file.readAt(place.offset, bytes.data(), bytes.size(), problem))
            return false;
    } else {
        std::vector<unsigned char> member;
        std::string why;
        const img::Archive& a = *archives[m.archive];
        if (!a.read(a.index().entries[place.entry], member, why) || place.offset + place.size > member.size())
            return false;
        bytes.assign(member.begin() + static_cast<std::ptrdiff_t>(place.offset),
                     member.begin() + static_cast<std::ptrdiff_t>(place.offset + place.size));
    }
    col::ReadResult read = col::readCollision(bytes);
    if (read.models.empty()) return false;
    entry = std::move(read.models[0]);
    return true;
}

}  // namespace orvik
