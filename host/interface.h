// The host's main interface, undo, scripting and the progress display.
#pragma once

#include "host/animatable.h"
#include "host/log.h"

class INode;
class Modifier;

constexpr int TASK_MODE_CREATE = 1;
constexpr int TASK_MODE_MODIFY = 2;
constexpr int TASK_MODE_HIERARCHY = 3;
constexpr int TASK_MODE_MOTION = 4;
constexpr int TASK_MODE_DISPLAY = 5;
constexpr int TASK_MODE_UTILITY = 6;

class ImpInterface {
public:
    virtual ~ImpInterface() = default;
};

class Interface {
public:
    virtual ~Interface() = default;
    // A new object of a class the host knows, or null.
    virtual void* CreateInstance(SClass_ID superID, Class_ID classID);
    // A new top-level node carrying the object.
    virtual INode* CreateObjectNode(Object* obj);

    // Opens the display, calls fn(arg) once, and returns.
    virtual BOOL ProgressStart(const MCHAR* title, BOOL dispBar, LPTHREAD_START_ROUTINE fn, LPVOID arg);
    virtual void ProgressUpdate(int pct, BOOL showPct = TRUE, const MCHAR* title = nullptr);
    virtual void ProgressEnd();

    // clearSel 0 adds the node to the selection; 1 makes it the whole selection.
    virtual void SelectNode(INode* node, int clearSel = 1);
    virtual void ClearNodeSelection(BOOL redraw = TRUE);
    virtual int GetSelNodeCount();
    virtual INode* GetSelNode(int i);

    virtual void SetCommandPanelTaskMode(int mode);
    virtual int GetCommandPanelTaskMode();
    virtual TimeValue GetTime() { return 0; }
    // The scene's animation range, in ticks.
    virtual void SetAnimRange(Interval range);
    virtual Interval GetAnimRange();
    // The scene's root: its children are the top-level nodes.
    virtual INode* GetRootNode();
    // The host's system log.
    virtual LogSys* Log();
};

class Interface12 : public Interface {
public:
    // Puts the modifier on top of the node's stack.
    virtual void AddModifier(INode& node, Modifier& mod, int modPos = 0);
};

Interface* GetCOREInterface();

// Frames per second and ticks per frame of the scene's time.
int GetFrameRate();
int GetTicksPerFrame();
Interface12* GetCOREInterface12();

class Hold {
public:
    void Begin();
    void Accept(const MCHAR* name);
    void Cancel();
    int Holding() const { return holding; }

private:
    int holding = 0;
};
extern Hold theHold;

// Runs one MAXScript statement; see the stand-in's scripting notes.
BOOL ExecuteMAXScriptScript(const MCHAR* s, BOOL noErrorMessage = FALSE, void* fpv = nullptr);
