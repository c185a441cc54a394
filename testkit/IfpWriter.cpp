// Animation package writer for the tests: see IfpWriter.h.
#include "testkit/IfpWriter.h"

#include <cmath>
#include <cstring>

namespace ifpw {

namespace {

using Bytes = std::vector<std::uint8_t>;

void append(Bytes& out, const Bytes& more)
{
    for (std::uint8_t b : more) out.push_back(b);  // (a range insert trips GCC 12's overflow warning at -O3)
}
void u32(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void f32(Bytes& out, float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    u32(out, bits);
}
// A value in units of 1/unitsPerOne as a little-endian i16.
void i16(Bytes& out, float value, float unitsPerOne)
{
    const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value * unitsPerOne)));
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
}
// Text in a field of `size` bytes, cut or zero-padded.
void field(Bytes& out, const std::string& s, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) out.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
}
void section(Bytes& out, const std::string& tag, const Bytes& body)
{
    field(out, tag, 4);
    u32(out, static_cast<std::uint32_t>(body.size()));
    append(out, body);
}
// A zero-terminated name padded to 4 bytes, as ANPK stores it.
void paddedName(Bytes& out, const std::string& s)
{
    field(out, s, (s.size() + 4) / 4 * 4);
}

std::uint32_t countOf(std::optional<std::uint32_t> lie, std::size_t real)
{
    return lie ? *lie : static_cast<std::uint32_t>(real);
}

void anpkBone(Bytes& out, const Bone& bone)
{
    Bytes anim, cpan, keys;
    field(anim, bone.name, 28);
    const std::uint32_t keyCount = countOf(bone.keyCount, bone.keys.size());
    u32(anim, keyCount);
    u32(anim, 0);
    u32(anim, keyCount ? keyCount - 1 : 0);
    if (bone.id != -1) {
        u32(anim, static_cast<std::uint32_t>(bone.id));
    } else {
        u32(anim, 0xFFFFFFFF), u32(anim, 0xFFFFFFFF);
    }
    section(cpan, "ANIM", anim);
    const int kind = static_cast<int>(bone.keyType);
    for (const Key& k : bone.keys) {
        for (float v : k.rotation) f32(keys, v);
        for (int i = 0; i < 3 && kind >= 1; ++i) f32(keys, k.translation[static_cast<std::size_t>(i)]);
        for (int i = 0; i < 3 && kind == 2; ++i) f32(keys, k.scale[static_cast<std::size_t>(i)]);
        f32(keys, k.time);
    }
    static const char* const tags[] = {"KR00", "KRT0", "KRTS"};
    if (!bone.keys.empty()) section(cpan, bone.keyTag ? *bone.keyTag : tags[kind], keys);
    section(out, "CPAN", cpan);
}

Bytes writeAnpk(const Package& package)
{
    Bytes body, info, out;
    u32(info, countOf(package.animationCount, package.animations.size()));
    paddedName(info, package.name);
    section(body, "INFO", info);
    for (const Animation& a : package.animations) {
        Bytes name, dgan, animInfo;
        paddedName(name, a.name);
        section(body, "NAME", name);
        u32(animInfo, countOf(a.boneCount, a.bones.size()));
        u32(animInfo, 0);
        section(dgan, "INFO", animInfo);
        for (const Bone& b : a.bones) anpkBone(dgan, b);
        section(body, "DGAN", dgan);
    }
    section(out, "ANPK", body);
    return out;
}

Bytes writeAnp3(const Package& package)
{
    Bytes body, out;
    field(body, package.name, 24);
    u32(body, countOf(package.animationCount, package.animations.size()));
    for (const Animation& a : package.animations) {
        Bytes bones;
        std::size_t keyBytes = 0;
        for (const Bone& b : a.bones) {
            const bool translated = b.keyType != ifp::KeyType::R;
            field(bones, b.name, 24);
            u32(bones, static_cast<std::uint32_t>(b.anp3KeyType ? *b.anp3KeyType : (translated ? 4 : 3)));
            u32(bones, countOf(b.keyCount, b.keys.size()));
            u32(bones, static_cast<std::uint32_t>(b.id));
            const std::size_t before = bones.size();
            for (const Key& k : b.keys) {
                for (float v : k.rotation) i16(bones, v, 4096.0f);
                i16(bones, k.time, 60.0f);
                for (int i = 0; i < 3 && translated; ++i)
                    i16(bones, k.translation[static_cast<std::size_t>(i)], 1024.0f);
            }
            keyBytes += bones.size() - before;
        }
        field(body, a.name, 24);
        u32(body, countOf(a.boneCount, a.bones.size()));
        u32(body, static_cast<std::uint32_t>(keyBytes));
        u32(body, 1);
        append(body, bones);
    }
    section(out, "ANP3", body);
    return out;
}

}  // namespace

std::vector<std::uint8_t> write(const Package& package)
{
    Bytes out = package.layout == ifp::Layout::Anp3 ? writeAnp3(package) : writeAnpk(package);
    out.resize(out.size() + package.padding, 0);
    return out;
}

}  // namespace ifpw
