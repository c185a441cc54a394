// The options the animation importer's descriptor publishes, all a host
// needs to choose the animation an import takes (the command-line host
// includes this header alone).
#pragma once

#include "host/max.h"

// The options the descriptor publishes (IfpImportOptions).
#define IFP_IMPORT_OPTIONS_ID Interface_ID(0x4F524946, 0x504F5054)

// Which animation of the package the next imports take: by name, compared
// case-insensitively; an empty name (the default) takes the first. And a
// package kept in memory (LoadPackage), which the imports of that file take
// while the file keeps the size and modification time it had, so that a host
// applying many animations to many models reads the package once; any other
// file is read by the import itself.
class IfpImportOptions : public FPInterface {
public:
    Interface_ID GetID() override { return IFP_IMPORT_OPTIONS_ID; }
    virtual void SetAnimationName(const MCHAR* name) = 0;
    virtual const MCHAR* GetAnimationName() = 0;
    // Reads the package now and keeps it; FALSE when it cannot be read (the
    // reason in GetPackageMessage).
    virtual BOOL LoadPackage(const MCHAR* file) = 0;
    // The kept package's animations, in file order; null out of range.
    virtual int GetAnimationCount() = 0;
    virtual const MCHAR* GetAnimationNameAt(int i) = 0;
    // Why the last LoadPackage failed, or the line saying where a damaged
    // package's reading stopped; "" otherwise.
    virtual const MCHAR* GetPackageMessage() = 0;
};
