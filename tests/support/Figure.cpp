#include "support/Figure.h"

#include <cmath>

namespace figure {

dffw::Clump model()
{
    dffw::Clump clump;
    clump.frames = {dffw::namedFrame("figure"), dffw::namedFrame("Pelvis", 0, {0, 0, 1}),
                    dffw::namedFrame("Spine", 1, {0, 0, 0.5f}), dffw::namedFrame("Arm", 2, {0.25f, 0, 0.25f})};
    for (std::int32_t b = 1; b <= 3; ++b) {
        dffw::HAnim h;
        h.boneId = b;
        clump.frames[static_cast<std::size_t>(b)].hAnim = h;
    }
    clump.frames[1].hAnim->nodes = {dffw::HAnimNode{1, 0, 0}, dffw::HAnimNode{2, 1, 0}, dffw::HAnimNode{3, 2, 0}};
    dffw::Geometry quad = dffw::makeQuad(2.0f);
    dffw::Skin skin;
    skin.usedBones = {0, 1, 2};
    skin.boneIndices = {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, {1, 2, 0, 0}};
    skin.weights = {{1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {0.5f, 0.5f, 0, 0}};
    skin.inverseMatrices = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -1, 1},
                            {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -1.5f, 1},
                            {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -0.25f, 0, -1.75f, 1}};
    quad.extension.items.push_back(skin);
    clump.geometries = {quad};
    clump.atomics = {dffw::atomic(0, 0)};
    return clump;
}

ifpw::Package package(ifp::Layout layout)
{
    // A key turning about Z (or X), stored as the layout stores it (ANPK the conjugate).
    const auto turn = [layout](float time, double degrees, bool aboutX = false, std::array<float, 3> at = {0, 0, 0}) {
        const double h = degrees * 3.14159265358979323846 / 360.0;
        const auto s = static_cast<float>(std::sin(h) * (layout == ifp::Layout::Anpk ? -1.0 : 1.0));
        return ifpw::Key{time, {aboutX ? s : 0, 0, aboutX ? 0 : s, static_cast<float>(std::cos(h))}, at, {1, 1, 1}};
    };
    // ANPK bones are found by name (any case), ANP3 ones by their ids.
    const auto id = [layout](std::int32_t n) { return layout == ifp::Layout::Anp3 ? n : -1; };
    ifpw::Package p;
    p.layout = layout;
    p.animations = {
        ifpw::Animation{"Walk",
                        {ifpw::Bone{"pelvis",
                                    id(1),
                                    ifp::KeyType::RT,
                                    {turn(0, 0, false, {0, 0, 1}), turn(0.5f, 20, false, {0, 0.25f, 1}),
                                     turn(1, 0, false, {0, 0.5f, 1})}},
                         ifpw::Bone{"Spine", id(2), ifp::KeyType::R, {turn(0, 0, true), turn(1, 45, true)}},
                         ifpw::Bone{"ARM", id(3), ifp::KeyType::R, {turn(0, 0), turn(0.5f, 90), turn(1, 0)}}}},
        ifpw::Animation{"Wave", {ifpw::Bone{"Arm", id(3), ifp::KeyType::R, {turn(0, 0, true), turn(0.25f, 60, true)}}}},
    };
    if (layout == ifp::Layout::Anp3) {
        p.animations.push_back(
            ifpw::Animation{"Early", {ifpw::Bone{"Arm", 3, ifp::KeyType::R, {turn(-1.0f / 6, 0), turn(0.5f, 30)}}}});
    }
    return p;
}

}  // namespace figure
