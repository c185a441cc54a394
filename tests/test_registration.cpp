// Registration of the built plug-in libraries, as the host meets them: what
// each library file records (dynamic symbols, module name, ELF class and
// machine), checked for every library without running it, and, for the
// 64-bit libraries, the answers they give when loaded through dlopen and
// dlsym. The 32-bit libraries are loaded by regcheck_x86 where the kernel
// runs 32-bit programs.
#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "regcheck/RegistrationChecks.h"
#include "support/ImportHarness.h"

namespace {

// Every library: its name, host release and architecture.
struct LibraryVariant {
    std::string name;
    int release = 0;
    bool x86 = false;
    std::string path() const { return std::string(ORVIK_BIN_DIR) + "/" + name + ".dli"; }
};

std::vector<LibraryVariant> builtLibraries()
{
    std::vector<LibraryVariant> out;
    std::stringstream list(ORVIK_PLUGIN_LIST);
    std::string name;
    while (std::getline(list, name, ',')) {
        if (name.size() != std::strlen("Orvik_2012x64")) {
            continue;
        }
        out.push_back({name, std::stoi(name.substr(6, 4)), name.substr(10) == "x86"});
    }
    return out;
}

// Test names show the library, not the bytes of the parameter.
void PrintTo(const LibraryVariant& v, std::ostream* os)
{
    *os << v.name;
}

std::string variantName(const testing::TestParamInfo<LibraryVariant>& info)
{
    return info.param.name;
}

// What a library file records for the dynamic linker.
struct ElfFacts {
    int elfClass = 0;
    int machine = 0;
    std::string soname;
    std::set<std::string> definedDynamicSymbols;
    std::string error;
};

template <class T>
bool readAt(const std::vector<std::uint8_t>& bytes, std::uint64_t offset, T& out)
{
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    return true;
}

std::string stringAt(const std::vector<std::uint8_t>& bytes, std::uint64_t tableOffset, std::uint64_t tableSize,
                     std::uint64_t index)
{
    if (index >= tableSize || tableOffset > bytes.size() || bytes.size() - tableOffset < tableSize) {
        return {};
    }
    const auto* begin = reinterpret_cast<const char*>(bytes.data() + tableOffset + index);
    return std::string(begin, strnlen(begin, static_cast<std::size_t>(tableSize - index)));
}

// Reads the section table, the dynamic symbol table and the dynamic section.
template <class Ehdr, class Shdr, class Sym, class Dyn>
void parseElf(const std::vector<std::uint8_t>& bytes, ElfFacts& facts)
{
    Ehdr eh{};
    if (!readAt(bytes, 0, eh) || eh.e_shentsize != sizeof(Shdr)) {
        facts.error = "bad ELF header";
        return;
    }
    facts.machine = eh.e_machine;
    std::vector<Shdr> sections(eh.e_shnum);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (!readAt(bytes, eh.e_shoff + i * sizeof(Shdr), sections[i])) {
            facts.error = "section table outside the file";
            return;
        }
    }
    for (const Shdr& sh : sections) {
        if ((sh.sh_type != SHT_DYNSYM && sh.sh_type != SHT_DYNAMIC) || sh.sh_link >= sections.size()) {
            continue;
        }
        const Shdr& strtab = sections[sh.sh_link];
        if (sh.sh_type == SHT_DYNSYM) {
            for (std::uint64_t off = sizeof(Sym); off + sizeof(Sym) <= sh.sh_size; off += sizeof(Sym)) {
                Sym sym{};
                if (!readAt(bytes, sh.sh_offset + off, sym)) {
                    facts.error = "symbol table outside the file";
                    return;
                }
                if (sym.st_shndx != SHN_UNDEF && sym.st_name != 0) {
                    facts.definedDynamicSymbols.insert(stringAt(bytes, strtab.sh_offset, strtab.sh_size, sym.st_name));
                }
            }
        } else {
            for (std::uint64_t off = 0; off + sizeof(Dyn) <= sh.sh_size; off += sizeof(Dyn)) {
                Dyn dyn{};
                if (!readAt(bytes, sh.sh_offset + off, dyn)) {
                    facts.error = "dynamic section outside the file";
                    return;
                }
                if (dyn.d_tag == DT_SONAME) {
                    facts.soname = stringAt(bytes, strtab.sh_offset, strtab.sh_size, dyn.d_un.d_val);
                }
            }
        }
    }
}

ElfFacts readElf(const std::string& path)
{
    ElfFacts facts;
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < EI_NIDENT || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0) {
        facts.error = "not an ELF file: " + path;
        return facts;
    }
    if (bytes[EI_CLASS] == ELFCLASS32) {
        facts.elfClass = 32;
        parseElf<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, Elf32_Dyn>(bytes, facts);
    } else if (bytes[EI_CLASS] == ELFCLASS64) {
        facts.elfClass = 64;
        parseElf<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, Elf64_Dyn>(bytes, facts);
    } else {
        facts.error = "unknown ELF class";
    }
    return facts;
}

const regcheck::Reporter gtestReporter = [](bool ok, const std::string& what) { EXPECT_TRUE(ok) << what; };

class EveryLibrary : public testing::TestWithParam<LibraryVariant> {};
class LoadedLibrary : public testing::TestWithParam<LibraryVariant> {};

std::vector<LibraryVariant> x64Libraries()
{
    std::vector<LibraryVariant> out;
    for (const LibraryVariant& v : builtLibraries()) {
        if (!v.x86) {
            out.push_back(v);
        }
    }
    return out;
}

}  // namespace

TEST(Libraries, AllFourAreBuiltWhereMultilibIs)
{
    std::set<std::string> names;
    for (const LibraryVariant& v : builtLibraries()) {
        names.insert(v.name);
    }
    EXPECT_TRUE(names.count("Orvik_2010x64") && names.count("Orvik_2012x64"));
    if (ORVIK_HAVE_X86) {
        EXPECT_TRUE(names.count("Orvik_2010x86") && names.count("Orvik_2012x86"));
    }
}

// Only the undecorated exports and the constructor are visible; every build
// records the same module name.
TEST_P(EveryLibrary, ExportsExactlyTheHostEntryPointsUnderOneModuleName)
{
    const LibraryVariant& v = GetParam();
    const ElfFacts facts = readElf(v.path());
    ASSERT_EQ(facts.error, "");
    EXPECT_EQ(facts.elfClass, v.x86 ? 32 : 64);
    EXPECT_EQ(facts.machine, v.x86 ? EM_386 : EM_X86_64);
    EXPECT_EQ(facts.soname, "Orvik_2010x86.dli");
    const std::set<std::string> expected = {
        "LibDescription",
        "LibNumberClasses",
        "LibClassDesc",
        "LibVersion",
        "CanAutoDefer",
        "LibInitialize",
        "LibShutdown",
        "_ZN20VertexNormalsControlC1Ev",
        "_ZN20VertexNormalsControlC2Ev",
    };
    EXPECT_EQ(facts.definedDynamicSymbols, expected);
}

INSTANTIATE_TEST_SUITE_P(Built, EveryLibrary, testing::ValuesIn(builtLibraries()), variantName);

TEST_P(LoadedLibrary, AnswersTheHostAsRegistered)
{
    const LibraryVariant& v = GetParam();
    regcheck::checkLibrary(v.path(), v.release, gtestReporter);
}

// The shipped library builds the same scene as the importer the rest of the
// suite tests (linked in), down to the last byte of the dump.
TEST_P(LoadedLibrary, ImportsTheExampleLikeTheLinkedImporter)
{
    const LibraryVariant& v = GetParam();
    const std::string example = std::string(ORVIK_SOURCE_DIR) + "/examples/example.dff";
    const std::string linkedDump = dumpText(importFile(example));

    PluginLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.open(v.path(), error)) << error;
    EXPECT_EQ(lib.info().version, regcheck::expectedLibVersion(v.release));
    ASSERT_EQ(lib.importers().size(), 1u);
    Scene& scene = resetScene();
    const ImportOutcome outcome = runImport(lib, example);
    ASSERT_TRUE(outcome.ran) << outcome.error;
    EXPECT_EQ(outcome.result, 1);
    EXPECT_TRUE(scene.import.zoomExtents);
    EXPECT_FALSE(scene.nodes.empty());
    EXPECT_EQ(dumpText(scene), linkedDump);
    resetScene();
    lib.close();
}

INSTANTIATE_TEST_SUITE_P(Built, LoadedLibrary, testing::ValuesIn(x64Libraries()), variantName);

namespace {

// The animation libraries: OrvikIfp_<release><arch>.
std::vector<LibraryVariant> animationLibraries()
{
    std::vector<LibraryVariant> out;
    std::stringstream list(ORVIK_ANIM_PLUGIN_LIST);
    std::string name;
    const std::size_t prefix = std::strlen("OrvikIfp_");
    while (std::getline(list, name, ',')) {
        if (name.size() != prefix + std::strlen("2012x64")) continue;
        out.push_back({name, std::stoi(name.substr(prefix, 4)), name.substr(prefix + 4) == "x86"});
    }
    return out;
}

class AnimationLibrary : public testing::TestWithParam<LibraryVariant> {};

}  // namespace

// Each animation library records its own name and exports only the host's
// entry points; the 64-bit ones answer as registered when loaded.
TEST_P(AnimationLibrary, ExportsTheHostEntryPointsAndAnswersAsRegistered)
{
    const LibraryVariant& v = GetParam();
    const ElfFacts facts = readElf(v.path());
    ASSERT_EQ(facts.error, "");
    EXPECT_EQ(facts.elfClass, v.x86 ? 32 : 64);
    EXPECT_EQ(facts.soname, v.name + ".dli");
    const std::set<std::string> expected = {"LibDescription", "LibNumberClasses", "LibClassDesc", "LibVersion",
                                            "CanAutoDefer",   "LibInitialize",    "LibShutdown"};
    EXPECT_EQ(facts.definedDynamicSymbols, expected);
    if (!v.x86) regcheck::checkLibrary(v.path(), v.release, gtestReporter, regcheck::kAnimationImporter);
}

INSTANTIATE_TEST_SUITE_P(Built, AnimationLibrary, testing::ValuesIn(animationLibraries()), variantName);
