// Animation package writer for the tests: see IfpWriter.h.
#include "testkit/IfpWriter.h"

#include <cmath>
#include <cstring>

namespace ifpw {

namespace {

using Bytes = std::vector<std::uint8_t>;

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
void i16(Bytes& out, float value, float unitsPerOne)
{
    const auto v = static_cast<std::int16_t>(std::lround(value * unitsPerOne));
    const auto u = static_cast<std::uint16_t>(v);
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
}
void tag(Bytes& out, const std::string& t)
{
    for (std::size_t i = 0; i < 4; ++i) out.push_back(i < t.size() ? static_cast<std::uint8_t>(t[i]) : 0);
}
// A name in a field of `size` bytes, cut or zero-padded.
void field(Bytes& out, const std::string& s, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) out.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
}
// A tagged section around `body`.
void section(Bytes& out, const std::string& t, const Bytes& body)
{
    tag(out, t);
    u32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}
// A zero-terminated name padded to 4 bytes, as ANPK stores it.
Bytes paddedName(const std::string& s)
{
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    while (b.size() % 4) b.push_back(0);
    return b;
}

std::uint32_t countOf(std::optional<std::uint32_t> lie, std::size_t real)
{
    return lie ? *lie : static_cast<std::uint32_t>(real);
}

Bytes anpkBone(const Bone& bone)
{
    Bytes anim;
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
    Bytes cpan;
    section(cpan, "ANIM", anim);
    if (!bone.keys.empty()) {
        const int kind = static_cast<int>(bone.keyType);
        Bytes keys;
        for (const Key& k : bone.keys) {
            for (float v : k.rotation) f32(keys, v);
            if (kind >= 1) {
                for (float v : k.translation) f32(keys, v);
            }
            if (kind == 2) {
                for (float v : k.scale) f32(keys, v);
            }
            f32(keys, k.time);
        }
        static const char* const tags[] = {"KR00", "KRT0", "KRTS"};
        section(cpan, bone.keyTag ? *bone.keyTag : tags[kind], keys);
    }
    Bytes out;
    section(out, "CPAN", cpan);
    return out;
}

Bytes writeAnpk(const Package& package)
{
    Bytes body;
    Bytes info;
    u32(info, countOf(package.animationCount, package.animations.size()));
    const Bytes name = paddedName(package.name);
    info.insert(info.end(), name.begin(), name.end());
    section(body, "INFO", info);
    for (const Animation& a : package.animations) {
        section(body, "NAME", paddedName(a.name));
        Bytes dgan;
        Bytes animInfo;
        u32(animInfo, countOf(a.boneCount, a.bones.size()));
        u32(animInfo, 0);
        section(dgan, "INFO", animInfo);
        for (const Bone& b : a.bones) {
            const Bytes bone = anpkBone(b);
            dgan.insert(dgan.end(), bone.begin(), bone.end());
        }
        section(body, "DGAN", dgan);
    }
    Bytes out;
    section(out, "ANPK", body);
    return out;
}

Bytes writeAnp3(const Package& package)
{
    Bytes body;
    field(body, package.name, 24);
    u32(body, countOf(package.animationCount, package.animations.size()));
    for (const Animation& a : package.animations) {
        Bytes bones;
        for (const Bone& b : a.bones) {
            const bool translated = b.keyType != ifp::KeyType::R;
            field(bones, b.name, 24);
            u32(bones, static_cast<std::uint32_t>(b.anp3KeyType ? *b.anp3KeyType : (translated ? 4 : 3)));
            u32(bones, countOf(b.keyCount, b.keys.size()));
            u32(bones, static_cast<std::uint32_t>(b.id));
            for (const Key& k : b.keys) {
                for (float v : k.rotation) i16(bones, v, 4096.0f);
                i16(bones, k.time, 60.0f);
                if (translated) {
                    for (float v : k.translation) i16(bones, v, 1024.0f);
                }
            }
        }
        field(body, a.name, 24);
        u32(body, countOf(a.boneCount, a.bones.size()));
        u32(body, static_cast<std::uint32_t>(bones.size() - a.bones.size() * 36));
        u32(body, 1);
        body.insert(body.end(), bones.begin(), bones.end());
    }
    Bytes out;
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
