// One description of each scene object, shared by the scene dump and the
// glTF export's extras, so that the two name things alike.
//
// W is a JSON writer with the dump writer's calls (beginObject, endObject,
// beginArray, endArray, key, null, boolean, number(float), integer, string,
// point). References to other objects go through Refs: the dump writes their
// index in the scene, the export its own index or the object inline.
//   refs.mesh(w, obj)          the mesh of a node's object
//   refs.material(w, mtl)      a multi-material's slot
//   refs.texture(w, texmap)    a texture parameter
//   refs.controller(w, ctrl)   a texture coordinate controller
//   refs.node(w, node)         a Skin bone
//   refs.keepParam(id)         whether a game material parameter is described
#pragma once

#include "host/scene.h"

namespace describe {

template <class W, class Refs>
void object(W& w, Object* obj, Refs& refs)
{
    if (obj == nullptr) {
        w.null();
        return;
    }
    w.beginObject();
    if (dynamic_cast<TriObject*>(obj)) {
        w.key("kind"), w.string("mesh");
        w.key("mesh"), refs.mesh(w, obj);
    } else if (auto* light = dynamic_cast<GenLight*>(obj)) {
        w.key("kind"), w.string("light");
        w.key("type"), w.string("omni");
        w.key("atten");
        w.beginArray();
        for (int i = 0; i < 4; ++i) w.number(light->GetAtten(0, i));
        w.endArray();
        w.key("color"), w.point(light->GetRGBColor(0));
        w.key("fallsize"), w.number(light->GetFallsize(0));
        w.key("enabled"), w.boolean(light->GetUseLight() != 0);
        w.key("coneDisplay"), w.boolean(light->GetConeDisplay() != 0);
    } else if (dynamic_cast<DummyObject*>(obj)) {
        w.key("kind"), w.string("dummy");
    } else {
        w.key("kind"), w.string("other");
    }
    w.endObject();
}

template <class W>
void objectOffset(W& w, const INode& node)
{
    w.beginObject();
    w.key("position"), w.point(node.GetObjOffsetPos());
    const Quat q = node.GetObjOffsetRot();
    w.key("rotation");
    w.beginArray();
    w.number(q.x), w.number(q.y), w.number(q.z), w.number(q.w);
    w.endArray();
    w.key("scale"), w.point(node.GetObjOffsetScale().s);
    w.endObject();
}

template <class W>
void userProps(W& w, const INode& node)
{
    w.beginObject();
    for (const INode::UserProp& p : node.UserProps()) {
        w.key(p.key);
        if (p.isInt) {
            w.integer(p.intValue);
        } else if (p.isFloat) {
            w.number(p.floatValue);
        } else {
            w.string(p.text);
        }
    }
    w.endObject();
}

template <class W, class Refs>
void material(W& w, Mtl* m, Refs& refs)
{
    auto* multi = dynamic_cast<MultiMtl*>(m);
    auto* game = dynamic_cast<GameMtl*>(m);
    w.beginObject();
    w.key("class"), w.string(multi ? "multi" : game ? "game" : "other");
    w.key("name"), w.string(m->GetName());
    w.key("flags"), w.integer(m->GetMtlFlags());
    if (multi) {
        w.key("subMaterials");
        w.beginArray();
        for (int i = 0; i < multi->NumSubMtls(); ++i) refs.material(w, multi->GetSubMtl(i));
        w.endArray();
    }
    if (game) {
        w.key("params");
        w.beginObject();
        if (const IParamBlock2* pb = game->GetParamBlock(0)) {
            for (const IParamBlock2::Param& p : pb->Params()) {
                if (!p.written || !refs.keepParam(p.id)) continue;
                w.key(std::to_string(p.id));
                w.beginObject();
                switch (p.type) {
                case ParamType::Float:
                    w.key("float"), w.number(p.f);
                    break;
                case ParamType::Int:
                    w.key("int"), w.integer(p.i);
                    break;
                case ParamType::Color:
                    w.key("color"), w.point(p.c);
                    break;
                case ParamType::Texmap:
                    w.key("texture"), refs.texture(w, p.tex);
                    break;
                }
                w.endObject();
            }
        }
        w.endObject();
    }
    w.endObject();
}

template <class W, class Refs>
void texture(W& w, BitmapTex& t, Refs& refs)
{
    static const char* const controllerNames[4] = {"uOffset", "vOffset", "uTiling", "vTiling"};
    w.beginObject();
    w.key("class"), w.string("bitmap");
    w.key("name"), w.string(t.GetName());
    w.key("mapName");
    if (const MCHAR* mapName = t.GetMapName()) {
        w.string(mapName);
    } else {
        w.null();
    }
    w.key("found"), w.boolean(t.MapFileFound());
    w.key("filterType"), w.integer(t.GetFilterType());
    StdUVGen* uv = t.GetUVGen();
    w.key("uvGen");
    w.beginObject();
    w.key("flags");
    w.beginObject();
    w.key("uWrap"), w.boolean(uv && uv->GetFlag(U_WRAP));
    w.key("uMirror"), w.boolean(uv && uv->GetFlag(U_MIRROR));
    w.key("vWrap"), w.boolean(uv && uv->GetFlag(V_WRAP));
    w.key("vMirror"), w.boolean(uv && uv->GetFlag(V_MIRROR));
    w.endObject();
    w.key("controllers");
    w.beginObject();
    for (int i = 0; i < 4; ++i) {
        w.key(controllerNames[i]);
        refs.controller(w, uv ? uv->Params().GetController(i) : nullptr);
    }
    w.endObject();
    w.endObject();
    w.endObject();
}

template <class W>
void controller(W& w, FloatController& c)
{
    w.beginObject();
    w.key("class"), w.string("float");
    w.key("keys");
    w.beginArray();
    for (const auto& [tick, value] : c.Keys()) {
        w.beginArray();
        w.integer(tick), w.number(value);
        w.endArray();
    }
    w.endArray();
    float value = 0.0f;
    Interval valid = FOREVER;
    c.GetValue(0, &value, valid);
    w.key("value"), w.number(value);
    w.endObject();
}

// A Skin's bones and their envelopes, as two members of the object open.
template <class W, class Refs>
void skinBones(W& w, const SkinModifier& s, Refs& refs)
{
    w.key("bones");
    w.beginArray();
    for (const SkinModifier::Bone& b : s.Bones()) refs.node(w, b.node);
    w.endArray();
    w.key("envelopes");
    w.beginArray();
    for (const SkinModifier::Bone& b : s.Bones()) {
        w.beginObject();
        w.key("start"), w.point(b.envelope.start);
        w.key("end"), w.point(b.envelope.end);
        w.key("crossSections");
        w.beginArray();
        for (const SkinModifier::CrossSection& cs : b.envelope.sections) {
            w.beginObject();
            w.key("inner"), w.number(cs.inner);
            w.key("outer"), w.number(cs.outer);
            w.endObject();
        }
        w.endArray();
        w.endObject();
    }
    w.endArray();
}

}  // namespace describe
