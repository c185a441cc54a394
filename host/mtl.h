// Materials, parameter blocks, textures and their coordinate generators.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/animatable.h"

class Texmap;
class Control;

constexpr int MTL_TEX_DISPLAY_ENABLED = 0x00000008;
constexpr int MTL_SUB_DISPLAY_ENABLED = 0x00100000;

class MtlBase : public ReferenceTarget {
public:
    virtual void SetName(const MSTR& s) { name = s.str_(); }
    const std::string& GetName() const { return name; }
    void SetMtlFlag(int mask, BOOL val = TRUE)
    {
        const ULONG m = static_cast<ULONG>(mask);
        mtlFlags = val ? (mtlFlags | m) : (mtlFlags & ~m);
    }
    int TestMtlFlag(int mask) const { return (mtlFlags & static_cast<ULONG>(mask)) ? 1 : 0; }
    ULONG GetMtlFlags() const { return mtlFlags; }
    int SceneIndex() const { return index; }
    void SetSceneIndex(int i) { index = i; }

private:
    std::string name;
    ULONG mtlFlags = 0;
    int index = -1;
};

// Kinds of parameter-block values.
enum class ParamType : std::uint8_t { Float, Int, Color, Texmap };

// A parameter block of typed parameters; a SetValue of the wrong kind, or of
// a parameter the block does not hold, fails and changes nothing.
class IParamBlock2 {
public:
    // 24 bytes in a 64-bit build: every game material holds 22 of them.
    struct Param {
        ParamID id = 0;
        ParamType type = ParamType::Float;
        bool written = false;
        Point3 c;  // the value of a colour
        // The value of the other kinds: the member of the parameter's kind is
        // the one set when the block is made, and the only one written or read.
        union {
            float f;
            int i;
            Texmap* tex = nullptr;
        };
    };
    explicit IParamBlock2(std::vector<Param> defs) : params(std::move(defs)) {}

    BOOL SetValue(ParamID id, TimeValue t, float v, int tabIndex = 0);
    BOOL SetValue(ParamID id, TimeValue t, int v, int tabIndex = 0);
    BOOL SetValue(ParamID id, TimeValue t, Color& v, int tabIndex = 0);
    BOOL SetValue(ParamID id, TimeValue t, Point3& v, int tabIndex = 0);
    BOOL SetValue(ParamID id, TimeValue t, Texmap* v, int tabIndex = 0);
    BOOL GetValue(ParamID id, TimeValue t, float& v, Interval& ivalid, int tabIndex = 0);
    BOOL GetValue(ParamID id, TimeValue t, int& v, Interval& ivalid, int tabIndex = 0);
    BOOL GetValue(ParamID id, TimeValue t, Color& v, Interval& ivalid, int tabIndex = 0);
    BOOL GetValue(ParamID id, TimeValue t, Texmap*& v, Interval& ivalid, int tabIndex = 0);
    const std::vector<Param>& Params() const { return params; }

private:
    Param* find(ParamID id, ParamType type);
    std::vector<Param> params;
};

class Mtl : public MtlBase {
public:
    SClass_ID SuperClassID() override { return MATERIAL_CLASS_ID; }
    virtual IParamBlock2* GetParamBlock(int i)
    {
        (void)i;
        return nullptr;
    }
    virtual int NumSubMtls() { return 0; }
    virtual Mtl* GetSubMtl(int i)
    {
        (void)i;
        return nullptr;
    }
    virtual void SetSubMtl(int i, Mtl* m) { (void)i, (void)m; }
};

// The multi/sub-object material.
class MultiMtl : public Mtl {
public:
    Class_ID ClassID() override { return Class_ID(MULTI_CLASS_ID, 0); }
    virtual void SetNumSubMtls(int n);
    int NumSubMtls() override { return static_cast<int>(subs.size()); }
    Mtl* GetSubMtl(int i) override;
    void SetSubMtl(int i, Mtl* m) override;

private:
    std::vector<Mtl*> subs;
};

// The game material: the stand-in of another plug-in's material class, with
// parameter block 0 holding parameters 0 to 21.
class GameMtl : public Mtl {
public:
    GameMtl();
    Class_ID ClassID() override { return GAME_MTL_CLASS_ID; }
    IParamBlock2* GetParamBlock(int i) override { return i == 0 ? &pblock : nullptr; }

private:
    IParamBlock2 pblock;
};

constexpr ULONG U_WRAP = 1;
constexpr ULONG V_WRAP = 2;
constexpr ULONG U_MIRROR = 4;
constexpr ULONG V_MIRROR = 8;

// Sub-animatables 0..3 of a coordinate generator's parameter block.
constexpr int UVGEN_U_OFFSET = 0;
constexpr int UVGEN_V_OFFSET = 1;
constexpr int UVGEN_U_TILING = 2;
constexpr int UVGEN_V_TILING = 3;

// The coordinate generator's own parameters (its sub-animatable 0): U and V
// offset and tiling, each able to hold a float controller.
class UVGenParams : public ReferenceTarget {
public:
    SClass_ID SuperClassID() override { return 0x82; }  // parameter block
    Class_ID ClassID() override { return Class_ID(0x82, 0); }
    int NumSubs() override { return 4; }
    Animatable* SubAnim(int i) override;
    BOOL AssignController(Animatable* control, int subAnim) override;
    Control* GetController(int i) const { return (i >= 0 && i < 4) ? controllers[i] : nullptr; }

private:
    Control* controllers[4] = {nullptr, nullptr, nullptr, nullptr};
};

class UVGen : public MtlBase {
public:
    SClass_ID SuperClassID() override { return UVGEN_CLASS_ID; }
    virtual void SetFlag(ULONG f, ULONG val) = 0;
    virtual int GetFlag(ULONG f) const = 0;
};

class StdUVGen : public UVGen {
public:
    Class_ID ClassID() override { return Class_ID(0x0000100, 0); }
    void SetFlag(ULONG f, ULONG val) override { flags = val ? (flags | f) : (flags & ~f); }
    int GetFlag(ULONG f) const override { return (flags & f) ? 1 : 0; }
    ULONG GetTextureTiling() const { return flags; }
    int NumSubs() override { return 1; }
    Animatable* SubAnim(int i) override { return i == 0 ? &params : nullptr; }
    UVGenParams& Params() { return params; }

private:
    ULONG flags = U_WRAP | V_WRAP;
    UVGenParams params;
};

class Texmap : public MtlBase {
public:
    SClass_ID SuperClassID() override { return TEXMAP_CLASS_ID; }
};

constexpr int FILTER_PYR = 0;
constexpr int FILTER_SAT = 1;
constexpr int FILTER_NADA = 2;

class BitmapTex : public Texmap {
public:
    Class_ID ClassID() override { return Class_ID(0x240, 0); }
    virtual void SetMapName(const MCHAR* name, bool isUIAction = false);
    const MCHAR* GetMapName() const { return hasMapName ? mapName.c_str() : nullptr; }
    virtual void SetFilterType(int ft) { filterType = ft; }
    virtual int GetFilterType() { return filterType; }
    virtual StdUVGen* GetUVGen() { return &uvGen; }
    // Whether the map name names a file that exists (checked when it is set).
    // A relative name is not found: the bitmap search did not place it, and
    // the working folder of the command-line host is not the host's.
    bool MapFileFound() const { return found; }

private:
    std::string mapName;
    bool hasMapName = false;
    bool found = false;
    int filterType = FILTER_PYR;
    StdUVGen uvGen;
};

// Creates a bitmap texture in the host scene.
BitmapTex* NewDefaultBitmapTex();

// Looks a bitmap file up: as a path, then in the folder of the file being
// imported, then along the bitmap paths, comparing names case-insensitively.
// Writes the full path (at most MAX_PATH - 1 characters) and gives non-zero when found.
BOOL BMMGetFullFilename(const MCHAR* file, MCHAR* path);
// How many folder listings the bitmap search has made in this process (the
// stand-in's own count, for tests and measurements).
std::size_t bitmapFolderListings();
