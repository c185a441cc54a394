#include "cli/ModelOptions.h"

#include <unistd.h>

#include "support/Files.h"

namespace orvik {

void addModelOptions(CLI::App& command, ModelOptions& o, CLI::Option* gltf)
{
    CLI::Option* skip = command
                            .add_option("--skip-parts", o.skipParts,
                                        "Leave out of the glTF export the vehicle parts whose names end in _dam "
                                        "(damaged) or _vlo (low detail)")
                            ->type_name("dam,vlo")
                            ->delimiter(',')
                            ->check(CLI::IsMember({"dam", "vlo"}))
                            ->allow_extra_args(false);
    CLI::Option* gameView = command.add_flag(
        "--game-view", o.gameView, "Leave out of the glTF export what the game does not draw (the model's collision)");
    if (gltf != nullptr) {
        skip->needs(gltf);
        gameView->needs(gltf);
    }
    command.add_option("--bitmap-path", o.bitmapPaths, "A folder searched for texture files (repeatable)")
        ->type_name("DIR")
        ->allow_extra_args(false);
    command
        .add_option("--txd", o.dictionaries,
                    "A texture dictionary the glTF export takes images from (repeatable; then the model's own .txd)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    command.add_flag("--no-progress", o.noProgress, "Draw no progress bar");
    command.add_flag("--without-game-material", o.withoutGameMaterial, "Run the host without the game material plug-in");
    command.add_option("--plugin", o.plugin, "Plug-in library (default: " ORVIK_DEFAULT_PLUGIN " beside orvik)");
}

std::string checkBitmapPaths(const ModelOptions& o)
{
    for (const std::string& dir : o.bitmapPaths) {
        if (!isDirectory(dir)) return dir + ": --bitmap-path is not a folder";
    }
    return {};
}

bool drawsProgress(const ModelOptions& o) { return !o.noProgress && ::isatty(STDERR_FILENO) == 1; }

}  // namespace orvik
