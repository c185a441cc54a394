// The animation importer: takes one animation of an animation package (.ifp)
// onto the skeleton already in the scene, as transform keys in animate mode.
#pragma once

#include <string>
#include <vector>

#include "anim/IfpImportOptions.h"
#include "host/max.h"
#include "ifp/Package.h"

#define IFP_IMPORT_CLASS_ID Class_ID(0x4F52272B, 0x2CDF01E6)

class IfpImport : public SceneImport {
public:
    int ExtCount() override;
    const MCHAR* Ext(int n) override;
    const MCHAR* LongDesc() override;
    const MCHAR* ShortDesc() override;
    const MCHAR* AuthorName() override;
    const MCHAR* CopyrightMessage() override;
    const MCHAR* OtherMessage1() override;
    const MCHAR* OtherMessage2() override;
    unsigned int Version() override;
    void ShowAbout(void* hWnd) override;
    // Reads the package and applies the chosen animation to the scene's
    // nodes. Gives 1 when an animation was applied, 0 when the file could
    // not be read, holds no such animation or nothing in the scene matched;
    // the reason is in the host's log.
    int DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts = FALSE) override;
    BOOL ZoomExtents() override;
};

class IfpImportClassDesc : public ClassDesc2 {
public:
    int IsPublic() override;
    void* Create(BOOL loading = FALSE) override;
    const MCHAR* ClassName() override;
    SClass_ID SuperClassID() override;
    Class_ID ClassID() override;
    const MCHAR* Category() override;
    HINSTANCE HInstance() override;
    FPInterface* GetInterface(Interface_ID id) override;
};

// The descriptor, constructed on first use.
ClassDesc2* GetIfpImportDesc();

namespace anim {

// What applying an animation did, for the log and the tests.
struct Applied {
    std::size_t bonesMatched = 0;
    std::size_t keysSet = 0;
    std::vector<std::string> missing;  // the animation's bones the scene lacks, in order
    Interval range;
};

// Sets keys for every bone of the animation that a node of the scene
// matches (its "BoneId" user property, else its name, case-insensitively),
// parents before children, and sets the scene's animation range.
Applied applyAnimation(Interface& ip, const ifp::Animation& animation);

}  // namespace anim
