// regcheck LIBRARY RELEASE [MODEL]: loads a plug-in library the way the host
// does and checks its registration answers, then imports MODEL through it
// when given. Built as a 32-bit program for the 32-bit libraries, which the
// 64-bit test suite cannot load. Prints one line per failed check; exit
// status 1 when any failed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/loader.h"
#include "host/scene.h"
#include "regcheck/RegistrationChecks.h"

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: regcheck LIBRARY 2010|2012 [MODEL]\n");
        return 2;
    }
    const std::string library = argv[1];
    const int release = std::atoi(argv[2]);
    int passed = 0;
    int failed = 0;
    const regcheck::Reporter report = [&](bool ok, const std::string& what) {
        if (ok) {
            ++passed;
        } else {
            ++failed;
            std::printf("regcheck: %s: FAILED: %s\n", library.c_str(), what.c_str());
        }
    };

    report(release == 2010 || release == 2012, "release is 2010 or 2012");
    report(sizeof(void*) == 4, "regcheck runs as a 32-bit program");
    // The animation library is checked as such; only the model library imports MODEL.
    const bool animation = library.find("OrvikIfp_") != std::string::npos;
    regcheck::checkLibrary(library, release, report,
                           animation ? regcheck::kAnimationImporter : regcheck::kModelImporter);

    if (argc == 4 && !animation) {
        // The library imports a model through the host's loader, as orvik_x86 does.
        const std::string model = argv[3];
        PluginLibrary lib;
        std::string error;
        const bool opened = lib.open(library, error);
        report(opened, "PluginLibrary::open: " + error);
        if (opened) {
            Scene& scene = resetScene();
            const ImportOutcome outcome = runImport(lib, model);
            report(outcome.ran, "runImport " + model + ": " + outcome.error);
            report(outcome.result == 1, "DoImport gives 1, got " + std::to_string(outcome.result));
            report(!scene.nodes.empty(), "the import of " + model + " builds nodes");
            report(scene.import.zoomExtents, "the host zooms after the import");
            report(scene.progress.opened && scene.progress.closed, "the progress display opens and closes");
            resetScene();
            lib.close();
        }
    }
    std::printf("regcheck: %s: %d passed, %d failed\n", library.c_str(), passed, failed);
    return failed == 0 ? 0 : 1;
}
