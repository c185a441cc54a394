// The host's main interface: object and node creation, the progress display,
// selection, the command panel and the undo hold, all acting on the current
// scene.
#include "host/interface.h"

#include <algorithm>
#include <cstdio>

#include "host/scene.h"

Hold theHold;

namespace {

// The stand-in's one interface object.
class HostInterface : public Interface12 {};

HostInterface& hostInterface()
{
    static HostInterface ip;
    return ip;
}

// Progress bar drawing on standard error; redrawn only when the percentage changes.
struct ProgressBar {
    bool active = false;
    int lastDrawn = -1;
};

ProgressBar& progressBar()
{
    static ProgressBar bar;
    return bar;
}

void drawBar(const std::string& title, int pct)
{
    ProgressBar& bar = progressBar();
    const int clamped = std::clamp(pct, 0, 100);
    if (bar.active && clamped == bar.lastDrawn) return;
    bar.lastDrawn = clamped;
    constexpr int width = 40;
    const int filled = clamped * width / 100;
    char cells[width + 1];
    for (int i = 0; i < width; ++i) cells[i] = i < filled ? '#' : '.';
    cells[width] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d%%", title.c_str(), cells, clamped);
    std::fflush(stderr);
    bar.active = true;
}

}  // namespace

void* Interface::CreateInstance(SClass_ID superID, Class_ID classID)
{
    Scene& scene = currentScene();
    Animatable* obj = nullptr;
    void* handle = nullptr;
    // Each object goes back as a pointer of its own class, the type the
    // caller casts the answer to.
    if (superID == GEOMOBJECT_CLASS_ID && classID == Class_ID(EDITTRIOBJ_CLASS_ID, 0)) {
        auto* p = new TriObject;
        obj = p, handle = p;
    } else if (superID == MATERIAL_CLASS_ID && classID == Class_ID(MULTI_CLASS_ID, 0)) {
        auto* p = new MultiMtl;
        obj = p, handle = p;
    } else if (superID == MATERIAL_CLASS_ID && classID == GAME_MTL_CLASS_ID && !scene.options.withoutGameMaterial) {
        auto* p = new GameMtl;
        obj = p, handle = p;
    } else if (superID == LIGHT_CLASS_ID && classID == Class_ID(OMNI_LIGHT_CLASS_ID, 0)) {
        auto* p = new GenLight;
        obj = p, handle = p;
    } else if (superID == HELPER_CLASS_ID && classID == Class_ID(DUMMY_CLASS_ID, 0)) {
        auto* p = new DummyObject;
        obj = p, handle = p;
    } else if (superID == OSM_CLASS_ID && classID == SKIN_CLASSID) {
        auto* p = new SkinModifier;
        obj = p, handle = p;
    }
    if (obj) scene.adopt(obj);
    return handle;
}

INode* Interface::CreateObjectNode(Object* obj)
{
    return currentScene().newNode(obj);
}

BOOL Interface::ProgressStart(const MCHAR* title, BOOL dispBar, LPTHREAD_START_ROUTINE fn, LPVOID arg)
{
    (void)dispBar;
    Scene& scene = currentScene();
    ProgressRecord& rec = scene.progress;
    rec.hasTitle = title != nullptr;
    rec.title = title ? title : "";
    rec.opened = true;
    rec.closed = false;
    if (scene.options.drawProgress) {
        progressBar() = ProgressBar{};
        drawBar(rec.title, 0);
    }
    if (fn) fn(arg);
    return TRUE;
}

void Interface::ProgressUpdate(int pct, BOOL showPct, const MCHAR* title)
{
    (void)showPct;
    Scene& scene = currentScene();
    scene.progress.updates.push_back(pct);
    if (title) scene.progress.title = title, scene.progress.hasTitle = true;
    if (scene.options.drawProgress) drawBar(scene.progress.title, pct);
}

void Interface::ProgressEnd()
{
    Scene& scene = currentScene();
    scene.progress.closed = true;
    ProgressBar& bar = progressBar();
    if (bar.active) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    bar = ProgressBar{};
}

void Interface::SelectNode(INode* node, int clearSel)
{
    if (!node) return;
    std::vector<INode*>& sel = currentScene().selection;
    if (clearSel) {
        sel.assign(1, node);
    } else if (std::find(sel.begin(), sel.end(), node) == sel.end()) {
        sel.push_back(node);
    }
}

void Interface::ClearNodeSelection(BOOL redraw)
{
    (void)redraw;
    currentScene().selection.clear();
}

int Interface::GetSelNodeCount()
{
    return static_cast<int>(currentScene().selection.size());
}

INode* Interface::GetSelNode(int i)
{
    const std::vector<INode*>& sel = currentScene().selection;
    return (i >= 0 && static_cast<std::size_t>(i) < sel.size()) ? sel[static_cast<std::size_t>(i)] : nullptr;
}

void Interface::SetCommandPanelTaskMode(int mode)
{
    if (mode >= TASK_MODE_CREATE && mode <= TASK_MODE_UTILITY) currentScene().commandPanelMode = mode;
}

void Interface::SetAnimRange(Interval range)
{
    // An empty or reversed range is refused, as the host's time slider does.
    if (range.End() > range.Start()) currentScene().animRange = range;
}

Interval Interface::GetAnimRange()
{
    return currentScene().animRange;
}

INode* Interface::GetRootNode()
{
    return currentScene().rootNode();
}

int GetFrameRate()
{
    return kFrameRate;
}

int GetTicksPerFrame()
{
    return TIME_TICKSPERSEC / kFrameRate;
}

LogSys* Interface::Log()
{
    static LogSys log;
    return &log;
}

int Interface::GetCommandPanelTaskMode()
{
    return currentScene().commandPanelMode;
}

void Interface12::AddModifier(INode& node, Modifier& mod, int modPos)
{
    (void)modPos;  // the stand-in's stacks take new modifiers on top
    node.AddModifierOnTop(&mod);
    if (auto* skin = dynamic_cast<SkinModifier*>(&mod)) skin->SetNode(&node);
}

Interface* GetCOREInterface()
{
    return &hostInterface();
}

Interface12* GetCOREInterface12()
{
    return &hostInterface();
}

void Hold::Begin()
{
    ++holding;
}

void Hold::Accept(const MCHAR* name)
{
    if (holding <= 0) return;  // nothing held: no record to accept
    // A nested hold folds into the one around it; the outermost makes the entry.
    if (--holding == 0) currentScene().undo.emplace_back(name ? name : "");
}

void Hold::Cancel()
{
    if (holding > 0) --holding;
}
