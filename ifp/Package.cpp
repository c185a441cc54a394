// The package reader: one bounded cursor per section, every count and size
// compared with the bytes left before anything is read or allocated; the
// first failure ends the walk with one line and keeps what came before it.
#include "ifp/Package.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "format/Binary.h"

namespace ifp {

namespace {

constexpr std::size_t kTagSize = 4;
constexpr std::size_t kSectionHeaderSize = 8;  // tag, u32 body size
// ANPK: the ANIM body holds a 28-byte name and the key count at least.
constexpr std::size_t kAnpkBoneNameSize = 28;
constexpr std::size_t kAnimMinSize = kAnpkBoneNameSize + 4;
// An ANIM body of this size ends with the bone's id.
constexpr std::size_t kAnimWithIdSize = 44;
constexpr std::size_t kAnpkAnimationInfoSize = 8;
// The least an ANPK animation or bone can take: NAME, DGAN and INFO headers
// with the INFO body; CPAN and ANIM headers with the smallest ANIM body.
constexpr std::size_t kAnpkMinAnimationSize = 3 * kSectionHeaderSize + kAnpkAnimationInfoSize;
constexpr std::size_t kAnpkMinBoneSize = 2 * kSectionHeaderSize + kAnimMinSize;
constexpr std::size_t kAnpkKeySizes[] = {20, 32, 44};  // R, RT, RTS

// ANP3: fixed headers.
constexpr std::size_t kAnp3NameSize = 24;
constexpr std::size_t kAnp3HeaderSize = 8 + kAnp3NameSize + 4;
constexpr std::size_t kAnp3AnimationHeaderSize = kAnp3NameSize + 12;
constexpr std::size_t kAnp3BoneHeaderSize = kAnp3NameSize + 12;
constexpr std::int32_t kAnp3Rotation = 3;
constexpr std::int32_t kAnp3RotationTranslation = 4;
constexpr std::size_t kAnp3RotationKeySize = 10;
constexpr std::size_t kAnp3TranslationKeySize = 16;
constexpr float kAnp3RotationUnit = 1.0f / 4096.0f;
constexpr float kAnp3TimeUnit = 1.0f / 60.0f;
constexpr float kAnp3TranslationUnit = 1.0f / 1024.0f;

std::string hexOffset(std::size_t offset)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%zX", offset);
    return text;
}

std::string tagText(const std::uint8_t* p)
{
    std::string s;
    for (std::size_t i = 0; i < kTagSize; ++i) {
        const auto c = static_cast<char>(p[i]);
        s += (p[i] >= 0x20 && p[i] < 0x7F) ? std::string(1, c) : "\\x" + hexOffset(p[i]).substr(2);
    }
    return s;
}

// A read position inside [begin, end) of the buffer. A failed read records
// the reason, leaves the position where it was and makes every later read
// fail; the caller checks ok() once per record.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t begin, std::size_t end, std::string* failure)
        : base(data), pos(begin), limit(end), why(failure)
    {
    }

    bool ok() const { return why->empty(); }
    std::size_t offset() const { return pos; }
    std::size_t left() const { return limit - pos; }

    bool need(std::size_t bytes, const char* what)
    {
        if (!ok()) return false;
        if (left() < bytes) {
            fail(std::string(what) + " needs " + std::to_string(bytes) + " bytes, " + std::to_string(left()) +
                 " are left");
            return false;
        }
        return true;
    }
    void fail(const std::string& reason)
    {
        if (ok()) *why = "offset " + hexOffset(pos) + ": " + reason;
    }

    std::uint32_t u32(const char* what)
    {
        if (!need(4, what)) return 0;
        const std::uint32_t v = loadU32(base + pos);
        pos += 4;
        return v;
    }
    std::int32_t i32(const char* what) { return static_cast<std::int32_t>(u32(what)); }
    float f32(const char* what)
    {
        const std::uint32_t bits = u32(what);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    std::int16_t i16(const char* what)
    {
        if (!need(2, what)) return 0;
        const auto v = static_cast<std::int16_t>(loadU16(base + pos));
        pos += 2;
        return v;
    }
    // A name field of `size` bytes, ending at its first zero byte.
    std::string name(std::size_t size, const char* what)
    {
        if (!need(size, what)) return {};
        const auto* p = reinterpret_cast<const char*>(base + pos);
        pos += size;
        return std::string(p, strnlen(p, size));
    }
    bool skip(std::size_t bytes, const char* what)
    {
        if (!need(bytes, what)) return false;
        pos += bytes;
        return true;
    }
    bool tagIs(const char* tag) const { return left() >= kTagSize && std::memcmp(base + pos, tag, kTagSize) == 0; }
    const std::uint8_t* here() const { return base + pos; }

    // A tagged section: its tag must be `tag` (null: any), its body must fit
    // in what is left. Gives a cursor over the body and moves past it.
    Cursor section(const char* tag, const char* what, std::size_t roundTo = 1)
    {
        Cursor body(base, pos, pos, why);
        if (!need(kSectionHeaderSize, what)) return body;
        if (tag != nullptr && !tagIs(tag)) {
            fail(std::string(what) + " expected \"" + tag + "\", found \"" + tagText(here()) + "\"");
            return body;
        }
        const std::uint32_t size = loadU32(base + pos + kTagSize);
        if (size > left() - kSectionHeaderSize) {
            fail(std::string(what) + " \"" + tagText(here()) + "\" declares " + std::to_string(size) + " bytes, " +
                 std::to_string(left() - kSectionHeaderSize) + " are left");
            return body;
        }
        body.pos = pos + kSectionHeaderSize;
        body.limit = body.pos + size;
        // Padding to the boundary is taken where it is there.
        const std::size_t padded = (size + roundTo - 1) / roundTo * roundTo;
        pos = body.limit + std::min<std::size_t>(padded - size, limit - body.limit);
        return body;
    }

private:
    const std::uint8_t* base;
    std::size_t pos;
    std::size_t limit;
    std::string* why;
};

// Whether `count` records of at least `minSize` bytes can fit in what is left
// ("animation 2 "walk" declares 900 keys, 64 bytes are left").
bool countFits(Cursor& c, std::uint64_t count, std::size_t minSize, const std::string& who, const char* what)
{
    if (!c.ok()) return false;
    if (count > c.left() / minSize) {
        c.fail(who + " declares " + std::to_string(count) + " " + what + ", " + std::to_string(c.left()) +
               " bytes are left");
        return false;
    }
    return true;
}

std::string quotedName(const std::string& name)
{
    return "\"" + name + "\"";
}

bool readAnpkKeys(Cursor& cpan, Bone& bone, std::uint32_t keyCount, const std::string& where)
{
    Cursor keys = cpan.section(nullptr, (where + " keys").c_str());
    if (!cpan.ok()) return false;
    const std::uint8_t* tag = keys.here() - kSectionHeaderSize;
    std::size_t kind = 0;
    if (std::memcmp(tag, "KR00", kTagSize) == 0) {
        kind = 0;
    } else if (std::memcmp(tag, "KRT0", kTagSize) == 0) {
        kind = 1;
    } else if (std::memcmp(tag, "KRTS", kTagSize) == 0) {
        kind = 2;
    } else {
        cpan.fail(where + " has keys of unknown kind \"" + tagText(tag) + "\"");
        return false;
    }
    bone.keyType = static_cast<KeyType>(kind);
    const std::size_t keySize = kAnpkKeySizes[kind];
    if (!countFits(keys, keyCount, keySize, where, "keys")) return false;
    bone.keys.resize(keyCount);
    for (Key& k : bone.keys) {
        // Stored conjugated: the host's rotation negates x, y and z.
        for (int i = 0; i < 3; ++i) k.rotation[i] = -keys.f32("rotation");
        k.rotation[3] = keys.f32("rotation");
        if (kind >= 1) {
            for (float& v : k.translation) v = keys.f32("translation");
        }
        if (kind == 2) {
            for (float& v : k.scale) v = keys.f32("scale");
        }
        k.time = keys.f32("time");
    }
    return keys.ok();
}

bool readAnpkBone(Cursor& dgan, Bone& bone, const std::string& animWhere, std::uint32_t index)
{
    const std::string where = animWhere + " bone " + std::to_string(index);
    Cursor cpan = dgan.section("CPAN", where.c_str());
    Cursor anim = cpan.section("ANIM", where.c_str());
    if (!cpan.ok()) return false;
    if (anim.left() < kAnimMinSize) {
        anim.fail(where + " ANIM holds " + std::to_string(anim.left()) + " bytes, at least " +
                  std::to_string(kAnimMinSize) + " are needed");
        return false;
    }
    const bool withId = anim.left() == kAnimWithIdSize;
    bone.name = anim.name(kAnpkBoneNameSize, "bone name");
    const std::uint32_t keyCount = anim.u32("key count");
    if (withId) {
        anim.skip(8, "bone fields");
        bone.id = anim.i32("bone id");
    }
    if (keyCount == 0 || cpan.left() == 0) return anim.ok();  // a bone without keys
    return readAnpkKeys(cpan, bone, keyCount, where + " " + quotedName(bone.name));
}

void readAnpk(Cursor& file, Package& package)
{
    file.skip(kSectionHeaderSize, "header");
    Cursor info = file.section("INFO", "package info", 4);
    const std::uint32_t count = info.u32("animation count");
    package.name = info.name(info.left(), "package name");
    if (!countFits(file, count, kAnpkMinAnimationSize, "package", "animations")) return;
    package.animations.reserve(count);
    for (std::uint32_t a = 0; a < count && file.ok(); ++a) {
        Animation anim;
        const std::string where = "animation " + std::to_string(a);
        Cursor nameSection = file.section("NAME", where.c_str(), 4);
        anim.name = nameSection.name(nameSection.left(), "animation name");
        const std::string named = where + " " + quotedName(anim.name);
        Cursor dgan = file.section("DGAN", named.c_str());
        Cursor animInfo = dgan.section("INFO", named.c_str());
        const std::uint32_t boneCount = animInfo.u32("bone count");
        if (!countFits(dgan, boneCount, kAnpkMinBoneSize, named, "bones")) return;
        anim.bones.resize(boneCount);
        for (std::uint32_t b = 0; b < boneCount; ++b) {
            if (!readAnpkBone(dgan, anim.bones[b], named, b)) return;
        }
        if (!file.ok()) return;
        package.animations.push_back(std::move(anim));
    }
}

bool readAnp3Bone(Cursor& file, Bone& bone, const std::string& animWhere, std::uint32_t index)
{
    bone.name = file.name(kAnp3NameSize, "bone name");
    const std::int32_t type = file.i32("key type");
    const std::uint32_t keyCount = file.u32("key count");
    bone.id = file.i32("bone id");
    if (!file.ok()) return false;
    const std::string where = animWhere + " bone " + std::to_string(index) + " " + quotedName(bone.name);
    if (type != kAnp3Rotation && type != kAnp3RotationTranslation) {
        file.fail(where + " has key type " + std::to_string(type));
        return false;
    }
    const bool translated = type == kAnp3RotationTranslation;
    bone.keyType = translated ? KeyType::RT : KeyType::R;
    const std::size_t keySize = translated ? kAnp3TranslationKeySize : kAnp3RotationKeySize;
    if (!countFits(file, keyCount, keySize, where, "keys")) return false;
    bone.keys.resize(keyCount);
    for (Key& k : bone.keys) {
        for (float& v : k.rotation) v = static_cast<float>(file.i16("rotation")) * kAnp3RotationUnit;
        k.time = static_cast<float>(file.i16("time")) * kAnp3TimeUnit;
        if (translated) {
            for (float& v : k.translation) v = static_cast<float>(file.i16("translation")) * kAnp3TranslationUnit;
        }
    }
    return file.ok();
}

void readAnp3(Cursor& file, Package& package)
{
    file.skip(kSectionHeaderSize, "header");
    package.name = file.name(kAnp3NameSize, "package name");
    const std::uint32_t count = file.u32("animation count");
    if (!countFits(file, count, kAnp3AnimationHeaderSize, "package", "animations")) return;
    package.animations.reserve(count);
    for (std::uint32_t a = 0; a < count && file.ok(); ++a) {
        Animation anim;
        anim.name = file.name(kAnp3NameSize, "animation name");
        const std::uint32_t boneCount = file.u32("bone count");
        file.skip(8, "animation header");
        const std::string where = "animation " + std::to_string(a) + " " + quotedName(anim.name);
        if (!countFits(file, boneCount, kAnp3BoneHeaderSize, where, "bones")) return;
        anim.bones.resize(boneCount);
        for (std::uint32_t b = 0; b < boneCount; ++b) {
            if (!readAnp3Bone(file, anim.bones[b], where, b)) return;
        }
        package.animations.push_back(std::move(anim));
    }
}

}  // namespace

float Animation::startTime() const
{
    bool any = false;
    float t = 0.0f;
    for (const Bone& b : bones) {
        for (const Key& k : b.keys) {
            t = any ? std::min(t, k.time) : k.time;
            any = true;
        }
    }
    return t;
}

float Animation::endTime() const
{
    bool any = false;
    float t = 0.0f;
    for (const Bone& b : bones) {
        for (const Key& k : b.keys) {
            t = any ? std::max(t, k.time) : k.time;
            any = true;
        }
    }
    return t;
}

bool isPackage(const std::uint8_t* data, std::size_t size)
{
    return size >= kTagSize && (std::memcmp(data, "ANPK", kTagSize) == 0 || std::memcmp(data, "ANP3", kTagSize) == 0);
}

Package readPackage(const std::uint8_t* data, std::size_t size)
{
    Package package;
    if (data == nullptr || !isPackage(data, size)) {
        package.damage = "offset 0x0: not an animation package (no ANPK or ANP3 tag)";
        return package;
    }
    Cursor file(data, 0, size, &package.damage);
    if (std::memcmp(data, "ANP3", kTagSize) == 0) {
        package.layout = Layout::Anp3;
        if (file.need(kAnp3HeaderSize, "header")) readAnp3(file, package);
    } else {
        package.layout = Layout::Anpk;
        readAnpk(file, package);
    }
    return package;
}

const char* layoutName(Layout layout)
{
    return layout == Layout::Anp3 ? "ANP3" : "ANPK";
}

const char* keyTypeName(KeyType type)
{
    switch (type) {
    case KeyType::RT:
        return "RT";
    case KeyType::RTS:
        return "RTS";
    case KeyType::R:
        break;
    }
    return "R";
}

}  // namespace ifp
