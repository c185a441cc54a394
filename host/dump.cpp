// The scene dump: the whole stand-in scene as one JSON object, written as a
// stream through a small buffered writer (no document is built in memory).
#include "host/dump.h"

#include <charconv>
#include <cmath>
#include <unordered_map>

#include "host/describe.h"
#include "host/scene.h"

namespace {

// Buffered JSON output with comma bookkeeping per nesting level.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& o) : out(o) {}
    ~JsonWriter() { flush(); }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    // A key inside an object; the next value belongs to it.
    void key(const char* k)
    {
        separate();
        quoted(k, std::strlen(k));
        put(':');
        afterKey = true;
    }
    void key(const std::string& k)
    {
        separate();
        quoted(k.data(), k.size());
        put(':');
        afterKey = true;
    }

    void null()
    {
        separate();
        raw("null", 4);
    }
    void boolean(bool b)
    {
        separate();
        b ? raw("true", 4) : raw("false", 5);
    }
    void number(float f)
    {
        separate();
        reserve(kNumberRoom);
        floatText(f);
    }
    template <class Int>
    void integer(Int v)
    {
        separate();
        reserve(kNumberRoom);
        intText(v);
    }
    // An index, or null when negative (no object).
    void index(int i)
    {
        if (i < 0) {
            null();
        } else {
            integer(i);
        }
    }
    void string(const std::string& s)
    {
        separate();
        quoted(s.data(), s.size());
    }
    void string(const char* s)
    {
        separate();
        quoted(s, std::strlen(s));
    }
    // A text that is valid UTF-8 already: its bytes are kept.
    void utf8(const std::string& s)
    {
        separate();
        quoted(s.data(), s.size(), true);
    }
    void newline() { put('\n'); }
    // [x,y,z] and [a,b,c], the bulk of a mesh dump, written in one go.
    void point(const Point3& p)
    {
        separate();
        reserve(3 * kNumberRoom + 4);
        buf[len++] = '[';
        floatText(p.x);
        buf[len++] = ',';
        floatText(p.y);
        buf[len++] = ',';
        floatText(p.z);
        buf[len++] = ']';
    }
    void triple(DWORD a, DWORD b, DWORD c)
    {
        separate();
        reserve(3 * kNumberRoom + 4);
        buf[len++] = '[';
        intText(a);
        buf[len++] = ',';
        intText(b);
        buf[len++] = ',';
        intText(c);
        buf[len++] = ']';
    }

private:
    static constexpr std::size_t kBufSize = 1 << 16;
    static constexpr std::size_t kNumberRoom = 64;
    static constexpr int kMaxDepth = 64;

    // The shortest text that reads back to the same float; null for the
    // non-finite values JSON cannot hold. The caller reserved kNumberRoom.
    void floatText(float f)
    {
        if (!std::isfinite(f)) {
            std::memcpy(buf + len, "null", 4);
            len += 4;
        } else if (f == 0.0f && std::signbit(f)) {
            std::memcpy(buf + len, "-0.0", 4);  // "-0" reads back as the integer 0 in most parsers
            len += 4;
        } else {
            len = static_cast<std::size_t>(std::to_chars(buf + len, buf + kBufSize, f).ptr - buf);
        }
    }
    template <class Int>
    void intText(Int v)
    {
        if (v >= 0 && v < 10) {
            buf[len++] = static_cast<char>('0' + v);
        } else {
            len = static_cast<std::size_t>(std::to_chars(buf + len, buf + kBufSize, v).ptr - buf);
        }
    }

    void open(char c)
    {
        separate();
        put(c);
        if (depth + 1 < kMaxDepth) ++depth;
        first[depth] = true;
    }
    void close(char c)
    {
        put(c);
        if (depth > 0) --depth;
    }
    // The comma before a value or key, unless it is the first of its
    // container or the value of a key just written.
    void separate()
    {
        if (afterKey) {
            afterKey = false;
            return;
        }
        if (first[depth]) {
            first[depth] = false;
        } else {
            put(',');
        }
    }
    void reserve(std::size_t n)
    {
        if (kBufSize - len < n) flush();
    }
    void flush()
    {
        if (len) out.write(buf, static_cast<std::streamsize>(len));
        len = 0;
    }
    void put(char c)
    {
        reserve(1);
        buf[len++] = c;
    }
    void raw(const char* s, std::size_t n)
    {
        reserve(n);
        std::memcpy(buf + len, s, n);
        len += n;
    }
    // Each byte is the ISO-8859-1 character of its code, written as UTF-8
    // with JSON escapes.
    void quoted(const char* s, std::size_t n, bool isUtf8 = false)
    {
        put('"');
        static const char hex[] = "0123456789abcdef";
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(s[i]);
            reserve(8);
            if (b >= 0x80 && isUtf8) {
                buf[len++] = static_cast<char>(b);
            } else if (b >= 0x80) {
                buf[len++] = static_cast<char>(0xC0 | (b >> 6));
                buf[len++] = static_cast<char>(0x80 | (b & 0x3F));
            } else if (b == '"' || b == '\\') {
                buf[len++] = '\\';
                buf[len++] = static_cast<char>(b);
            } else if (b < 0x20) {
                buf[len++] = '\\';
                switch (b) {
                case '\n':
                    buf[len++] = 'n';
                    break;
                case '\r':
                    buf[len++] = 'r';
                    break;
                case '\t':
                    buf[len++] = 't';
                    break;
                case '\b':
                    buf[len++] = 'b';
                    break;
                case '\f':
                    buf[len++] = 'f';
                    break;
                default:
                    buf[len++] = 'u', buf[len++] = '0', buf[len++] = '0';
                    buf[len++] = hex[b >> 4], buf[len++] = hex[b & 0xF];
                }
            } else {
                buf[len++] = static_cast<char>(b);
            }
        }
        put('"');
    }

    std::ostream& out;
    char buf[kBufSize];
    std::size_t len = 0;
    bool first[kMaxDepth] = {true};
    int depth = 0;
    bool afterKey = false;
};

void writeMatrix(JsonWriter& w, const Matrix3& m)
{
    w.beginArray();
    for (int i = 0; i < 4; ++i) w.point(m.GetRow(i));
    w.endArray();
}

// World transforms of every node, each parent's computed once.
std::vector<Matrix3> worldTransforms(const Scene& scene)
{
    const std::size_t n = scene.nodes.size();
    std::vector<Matrix3> world(n);
    std::vector<std::uint8_t> done(n, 0);
    std::vector<const INode*> chain;
    for (std::size_t i = 0; i < n; ++i) {
        chain.clear();
        for (const INode* p = scene.nodes[i]; p; p = p->GetParentNode()) {
            const int pi = scene.indexOfNode(p);
            if (pi >= 0 && done[static_cast<std::size_t>(pi)]) break;
            chain.push_back(p);
        }
        // From the topmost node not yet done down to node i.
        for (std::size_t k = chain.size(); k-- > 0;) {
            const INode* node = chain[k];
            const INode* parent = node->GetParentNode();
            const int parentIndex = scene.indexOfNode(parent);
            Matrix3 tm = node->LocalTM();
            if (parent) tm = parentIndex >= 0 ? tm * world[static_cast<std::size_t>(parentIndex)] : node->GetNodeTM(0);
            const int ni = scene.indexOfNode(node);
            if (ni >= 0) {
                world[static_cast<std::size_t>(ni)] = tm;
                done[static_cast<std::size_t>(ni)] = 1;
            }
        }
    }
    return world;
}

// References between objects: their index in the scene.
struct SceneRefs {
    const Scene& scene;
    std::unordered_map<const Object*, int> meshIndex{};

    void mesh(JsonWriter& w, const Object* obj) const
    {
        const auto it = meshIndex.find(obj);
        w.index(it == meshIndex.end() ? -1 : it->second);
    }
    void material(JsonWriter& w, const Mtl* m) const { w.index(scene.indexOfMaterial(m)); }
    void texture(JsonWriter& w, const Texmap* t) const { w.index(scene.indexOfTexture(t)); }
    void controller(JsonWriter& w, const Control* c) const { w.index(scene.indexOfController(c)); }
    void node(JsonWriter& w, const INode* n) const { w.index(scene.indexOfNode(n)); }
    bool keepParam(ParamID) const { return true; }
};

// The node's transform keys, each as [tick, components...], or null.
void writeKeys(JsonWriter& w, const INode& node)
{
    if (!node.HasKeys()) {
        w.null();
        return;
    }
    w.beginObject();
    w.key("position");
    w.beginArray();
    for (const auto& k : node.PositionKeys()) {
        w.beginArray();
        w.integer(k.time), w.number(k.value.x), w.number(k.value.y), w.number(k.value.z);
        w.endArray();
    }
    w.endArray();
    w.key("rotation");
    w.beginArray();
    for (const auto& k : node.RotationKeys()) {
        w.beginArray();
        w.integer(k.time), w.number(k.value.x), w.number(k.value.y), w.number(k.value.z), w.number(k.value.w);
        w.endArray();
    }
    w.endArray();
    w.key("scale");
    w.beginArray();
    for (const auto& k : node.ScaleKeys()) {
        w.beginArray();
        w.integer(k.time), w.number(k.value.x), w.number(k.value.y), w.number(k.value.z);
        w.endArray();
    }
    w.endArray();
    w.endObject();
}

void writeNodes(JsonWriter& w, const Scene& scene)
{
    SceneRefs refs{scene};
    refs.meshIndex.reserve(scene.meshes.size());
    for (std::size_t i = 0; i < scene.meshes.size(); ++i) refs.meshIndex.emplace(scene.meshes[i], static_cast<int>(i));
    const std::vector<Matrix3> world = worldTransforms(scene);

    w.beginArray();
    for (std::size_t i = 0; i < scene.nodes.size(); ++i) {
        const INode* node = scene.nodes[i];
        w.beginObject();
        w.key("name"), w.string(node->GetName());
        w.key("parent"), w.index(scene.indexOfNode(node->GetParentNode()));
        w.key("children");
        w.beginArray();
        for (const INode* c : node->Children()) w.index(scene.indexOfNode(c));
        w.endArray();
        w.key("tm"), writeMatrix(w, world[i]);
        w.key("object"), describe::object(w, node->GetObjectRef(), refs);
        w.key("objectOffset"), describe::objectOffset(w, *node);
        w.key("material"), w.index(scene.indexOfMaterial(node->GetMtl()));
        w.key("boneDisplay");
        if (node->HasBoneDisplay()) {
            w.integer(node->BoneDisplay());
        } else {
            w.null();
        }
        w.key("userProps"), describe::userProps(w, *node);
        w.key("hidden"), w.boolean(node->IsHidden() != 0);
        w.key("renderable"), w.boolean(node->Renderable() != 0);
        w.key("keys"), writeKeys(w, *node);
        w.key("modifiers");
        w.beginArray();
        for (const Modifier* m : node->Modifiers()) w.index(scene.indexOfModifier(m));
        w.endArray();
        w.endObject();
    }
    w.endArray();
}

void writeMap(JsonWriter& w, const MeshMap& map)
{
    w.beginObject();
    w.key("verts");
    w.beginArray();
    for (const UVVert& v : map.tv) w.point(v);
    w.endArray();
    w.key("faces");
    w.beginArray();
    for (const TVFace& f : map.tf) w.triple(f.t[0], f.t[1], f.t[2]);
    w.endArray();
    w.endObject();
}

void writeMesh(JsonWriter& w, const Mesh& mesh)
{
    const int nv = mesh.getNumVerts();
    const int nf = mesh.getNumFaces();
    w.beginObject();
    w.key("vertices");
    w.beginArray();
    for (int i = 0; i < nv; ++i) w.point(mesh.verts[i]);
    w.endArray();
    w.key("faces");
    w.beginArray();
    for (int i = 0; i < nf; ++i) w.triple(mesh.faces[i].v[0], mesh.faces[i].v[1], mesh.faces[i].v[2]);
    w.endArray();
    w.key("matIds");
    w.beginArray();
    for (int i = 0; i < nf; ++i) w.integer(mesh.faces[i].getMatID());
    w.endArray();
    w.key("smGroups");
    w.beginArray();
    for (int i = 0; i < nf; ++i) w.integer(mesh.faces[i].smGroup);
    w.endArray();
    w.key("edgeVis");
    w.beginArray();
    for (int i = 0; i < nf; ++i) {
        const Face& f = mesh.faces[i];
        w.triple(static_cast<DWORD>(f.getEdgeVis(0)), static_cast<DWORD>(f.getEdgeVis(1)),
                 static_cast<DWORD>(f.getEdgeVis(2)));
    }
    w.endArray();
    w.key("maps");
    w.beginObject();
    for (int ch = -NUM_HIDDENMAPS; ch < mesh.getNumMaps(); ++ch) {
        const MeshMap& map = mesh.Map(ch);
        if (!map.support) continue;
        w.key(std::to_string(ch));
        writeMap(w, map);
    }
    w.endObject();
    w.key("normals");
    if (const MeshNormalSpec* spec = mesh.GetSpecifiedNormals()) {
        w.beginObject();
        w.key("vectors");
        w.beginArray();
        for (int i = 0; i < spec->GetNumNormals(); ++i) w.point(spec->Normal(i));
        w.endArray();
        w.key("faces");
        w.beginArray();
        for (int i = 0; i < spec->GetNumFaces(); ++i) {
            const MeshNormalFace& f = spec->Face(i);
            w.beginArray();
            w.integer(f.GetNormalID(0)), w.integer(f.GetNormalID(1)), w.integer(f.GetNormalID(2));
            w.endArray();
        }
        w.endArray();
        w.key("explicit");
        w.beginArray();
        for (int i = 0; i < spec->GetNumNormals(); ++i) w.boolean(spec->GetNormalExplicit(i));
        w.endArray();
        w.key("flags"), w.integer(spec->GetFlags());
        w.endObject();
    } else {
        w.null();
    }
    w.key("edges"), w.integer(mesh.getNumEdges());
    w.endObject();
}

void writeMaterials(JsonWriter& w, const Scene& scene)
{
    SceneRefs refs{scene};
    w.beginArray();
    for (Mtl* m : scene.materials) describe::material(w, m, refs);
    w.endArray();
}

void writeTextures(JsonWriter& w, const Scene& scene)
{
    SceneRefs refs{scene};
    w.beginArray();
    for (BitmapTex* t : scene.textures) describe::texture(w, *t, refs);
    w.endArray();
}

void writeControllers(JsonWriter& w, const Scene& scene)
{
    w.beginArray();
    for (FloatController* c : scene.controllers) describe::controller(w, *c);
    w.endArray();
}

void writeModifiers(JsonWriter& w, const Scene& scene)
{
    SceneRefs refs{scene};
    w.beginArray();
    for (const SkinModifier* s : scene.modifiers) {
        w.beginObject();
        w.key("class"), w.string("skin");
        w.key("node"), w.index(scene.indexOfNode(s->Node()));
        describe::skinBones(w, *s, refs);
        w.key("weights");
        w.beginArray();
        for (const auto& pairs : s->Weights()) {
            w.beginArray();
            for (const auto& [bone, weight] : pairs) {
                w.beginArray();
                w.integer(bone), w.number(weight);
                w.endArray();
            }
            w.endArray();
        }
        w.endArray();
        w.key("skinInitTm"), writeMatrix(w, s->SkinInitTm().node);
        w.key("boneInitTms");
        w.beginArray();
        for (const SkinModifier::Bone& b : s->Bones()) writeMatrix(w, b.init.node);
        w.endArray();
        w.endObject();
    }
    w.endArray();
}

const char* logTypeName(DWORD type)
{
    switch (type) {
    case SYSLOG_ERROR:
        return "error";
    case SYSLOG_WARN:
        return "warning";
    case SYSLOG_INFO:
        return "info";
    default:
        return "debug";
    }
}

const char* panelName(int mode)
{
    switch (mode) {
    case TASK_MODE_CREATE:
        return "create";
    case TASK_MODE_MODIFY:
        return "modify";
    case TASK_MODE_HIERARCHY:
        return "hierarchy";
    case TASK_MODE_MOTION:
        return "motion";
    case TASK_MODE_DISPLAY:
        return "display";
    case TASK_MODE_UTILITY:
        return "utility";
    default:
        return "create";
    }
}

}  // namespace

// The length of the valid UTF-8 sequence at s (n bytes left), 0 when none.
static std::size_t utf8SequenceLength(const unsigned char* s, std::size_t n)
{
    const unsigned char b = s[0];
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        lo = b == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        hi = b == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n < len || s[1] < lo || s[1] > hi) return 0;
    for (std::size_t i = 2; i < len; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF) return 0;
    }
    return len;
}

std::string asciiLowered(std::string text)
{
    for (char& c : text) c = asciiLowered(c);
    return text;
}

std::string pathAsUtf8(const std::string& path)
{
    std::string out;
    out.reserve(path.size());
    const auto* s = reinterpret_cast<const unsigned char*>(path.data());
    for (std::size_t i = 0; i < path.size();) {
        if (s[i] < 0x80) {
            out.push_back(static_cast<char>(s[i++]));
            continue;
        }
        const std::size_t len = utf8SequenceLength(s + i, path.size() - i);
        if (len > 0) {
            out.append(path, i, len);
            i += len;
        } else {
            out.push_back(static_cast<char>(0xC0 | (s[i] >> 6)));
            out.push_back(static_cast<char>(0x80 | (s[i] & 0x3F)));
            ++i;
        }
    }
    return out;
}

void writeSceneJson(const Scene& scene, std::ostream& out)
{
    JsonWriter w(out);
    w.beginObject();
    w.key("format"), w.string("orvik-scene");
    w.key("version"), w.integer(1);

    w.key("import");
    w.beginObject();
    w.key("file"), w.utf8(pathAsUtf8(scene.import.file));
    w.key("result"), w.integer(scene.import.result);
    w.key("zoomExtents"), w.boolean(scene.import.zoomExtents);
    w.endObject();

    w.key("progress");
    w.beginObject();
    w.key("title");
    if (scene.progress.hasTitle) {
        w.string(scene.progress.title);
    } else {
        w.null();
    }
    w.key("opened"), w.boolean(scene.progress.opened);
    w.key("closed"), w.boolean(scene.progress.closed);
    w.key("updates");
    w.beginArray();
    for (int pct : scene.progress.updates) w.integer(pct);
    w.endArray();
    w.endObject();

    w.key("nodes"), writeNodes(w, scene);
    w.key("meshes");
    w.beginArray();
    for (const TriObject* tri : scene.meshes) writeMesh(w, tri->mesh);
    w.endArray();
    w.key("materials"), writeMaterials(w, scene);
    w.key("textures"), writeTextures(w, scene);
    w.key("controllers"), writeControllers(w, scene);
    w.key("modifiers"), writeModifiers(w, scene);

    w.key("selection");
    w.beginArray();
    for (const INode* n : scene.selection) w.index(scene.indexOfNode(n));
    w.endArray();
    w.key("commandPanel"), w.string(panelName(scene.commandPanelMode));
    w.key("undo");
    w.beginArray();
    for (const std::string& name : scene.undo) w.string(name);
    w.endArray();
    w.key("script");
    w.beginArray();
    for (const ScriptRecord& r : scene.script) {
        w.beginObject();
        w.key("text"), w.string(r.text);
        w.key("ok"), w.boolean(r.ok);
        w.key("error");
        if (r.ok) {
            w.null();
        } else {
            w.string(r.error);
        }
        w.endObject();
    }
    w.endArray();
    w.key("globals");
    w.beginObject();
    for (const auto& [name, mod] : scene.globals) {
        w.key(name);
        w.beginObject();
        if (mod) {
            w.key("modifier"), w.index(scene.indexOfModifier(mod));
        } else {
            w.key("undefined"), w.boolean(true);
        }
        w.endObject();
    }
    w.endObject();
    w.key("animation");
    w.beginObject();
    w.key("frameRate"), w.integer(GetFrameRate());
    w.key("range");
    w.beginArray();
    w.integer(scene.animRange.Start()), w.integer(scene.animRange.End());
    w.endArray();
    w.endObject();
    w.key("log");
    w.beginArray();
    for (const LogRecord& r : scene.log) {
        w.beginObject();
        w.key("type"), w.string(logTypeName(r.type));
        w.key("text"), w.string(r.text);
        w.endObject();
    }
    w.endArray();
    w.endObject();
    w.newline();
}
