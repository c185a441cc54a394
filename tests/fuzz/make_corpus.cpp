// Writes the fuzz seed corpus:
//   orvik_fuzz_corpus OUT_DIR EXAMPLE.dff [DIR...]
// OUT_DIR gets the writer's models (writer-*.dff), a version 2 IMG archive of
// the first few (writer-archive.img), a collision file of every version
// (writer-collision.col), the example, animation packages of both layouts
// (writer-*.ifp) and a copy of every .dff, .txd, .ifp and .col file of each DIR (the crash fixtures, the real samples); a DIR
// that does not exist is passed over. Files are read where they are and the
// copies go only into OUT_DIR, which is emptied first.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "fuzz/CorpusModels.h"
#include "testkit/IfpWriter.h"
#include "testkit/ImgWriter.h"

namespace fs = std::filesystem;

namespace {

bool readFile(const fs::path& path, std::vector<std::uint8_t>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool isSeedFile(const fs::path& path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".dff" || ext == ".txd" || ext == ".ifp" || ext == ".col";
}

bool copyInto(const fs::path& from, const fs::path& to)
{
    std::vector<std::uint8_t> bytes;
    if (!readFile(from, bytes)) {
        std::fprintf(stderr, "orvik_fuzz_corpus: cannot read %s\n", from.c_str());
        return false;
    }
    return dffw::saveFile(to.string(), bytes);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvik_fuzz_corpus OUT_DIR EXAMPLE.dff [DIR...]\n");
        return 2;
    }
    const fs::path out = argv[1];
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out, ec);
    if (ec) {
        std::fprintf(stderr, "orvik_fuzz_corpus: cannot make %s: %s\n", out.c_str(), ec.message().c_str());
        return 1;
    }

    int written = 0;
    bool ok = true;
    std::vector<corpus::Model> models = corpus::models();
    for (corpus::Model& model : corpus::hostileModels()) models.push_back(std::move(model));
    for (const corpus::Model& model : models) {
        ok = dffw::saveFile((out / ("writer-" + model.name + ".dff")).string(), model.bytes) && ok;
        ++written;
    }
    std::vector<imgw::Member> members;
    for (std::size_t i = 0; i < models.size() && i < 3; ++i)
        members.push_back({models[i].name + ".dff", models[i].bytes});
    ok = imgw::writeFile((out / "writer-archive.img").string(), imgw::writeV2(members)) && ok;
    ++written;
    // A collision file of every version.
    std::vector<colw::Entry> entries;
    for (int version = 1; version <= 4; ++version)
        entries.push_back(corpus::collisionEntry(version, "seed" + std::to_string(version)));
    ok = dffw::saveFile((out / "writer-collision.col").string(), colw::writeFile(entries)) && ok;
    ++written;
    ok = copyInto(argv[2], out / "example.dff") && ok;
    // Animation packages of both layouts, every key type.
    for (ifp::Layout layout : {ifp::Layout::Anpk, ifp::Layout::Anp3}) {
        ifpw::Package package;
        package.layout = layout;
        package.animations[0].bones[0].name = "Swaist";
        ifpw::Bone moved("Smid", 1, ifp::KeyType::RT,
                         {ifpw::Key{}, ifpw::Key{0.5f, {0, 0, 0.5f, 0.5f}, {1, 2, 3}, {1, 1, 1}}});
        package.animations[0].bones.push_back(moved);
        if (layout == ifp::Layout::Anpk) {
            package.animations.push_back(
                ifpw::Animation("scaled", {ifpw::Bone("Swaist", 4, ifp::KeyType::RTS, {ifpw::Key{}})}));
        }
        const std::string name = std::string("writer-") + ifp::layoutName(layout) + ".ifp";
        ok = imgw::writeFile((out / name).string(), ifpw::write(package)) && ok;
    }
    ++written;

    for (int a = 3; a < argc; ++a) {
        const fs::path dir = argv[a];
        if (!fs::is_directory(dir, ec)) continue;
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec))
            if (entry.is_regular_file(ec) && isSeedFile(entry.path())) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        const std::string prefix =
            dir.filename().empty() ? dir.parent_path().filename().string() : dir.filename().string();
        for (const fs::path& file : files) {
            ok = copyInto(file, out / (prefix + "-" + file.filename().string())) && ok;
            ++written;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "orvik_fuzz_corpus: some files were not written\n");
        return 1;
    }
    std::printf("orvik_fuzz_corpus: %d files in %s\n", written, out.c_str());
    return 0;
}
