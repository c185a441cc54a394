#include "cli/ModelOptions.h"

#include <unistd.h>

#include "gltf/GltfExport.h"
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
    CLI::Option* gameView =
        command.add_flag("--game-view", o.gameView,
                         "Export a vehicle as the game draws it: its wheel at every wheel dummy, paint instead of "
                         "placeholder colours, lamps unlit, the _dam and _vlo parts and the collision left out");
    command.add_option("--paint", o.paint, "The game view's paint colours, primary first (default: a grey pair)")
        ->type_name("#RRGGBB[,#RRGGBB...]")
        ->delimiter(',')
        ->check([](const std::string& colour) -> std::string {
            const bool ok = colour.size() == 7 && colour[0] == '#' &&
                            colour.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
            return ok ? "" : "a paint colour is #RRGGBB (six hexadecimal digits): " + colour;
        })
        ->needs(gameView)
        ->allow_extra_args(false);
    command
        .add_option("--wheels", o.wheels,
                    "The game view's wheel for models that store none: the wheel of this model (below its wheel "
                    "dummy, or the model itself; default: a generated tyre and rim)")
        ->type_name("FILE")
        ->needs(gameView)
        ->allow_extra_args(false);
    CLI::Option* ifp =
        command
            .add_option("--ifp", o.ifp,
                        "An animation package (.ifp): its animations are applied to the skeleton of every skinned "
                        "model and exported with it as glTF animations")
            ->type_name("FILE")
            ->allow_extra_args(false);
    command
        .add_option("--animation", o.animations,
                    "An animation of the --ifp package to export (repeatable; default: every animation)")
        ->type_name("NAME")
        ->needs(ifp)
        ->allow_extra_args(false);
    if (gltf != nullptr) skip->needs(gltf), gameView->needs(gltf), ifp->needs(gltf);
    command.add_option("--bitmap-path", o.bitmapPaths, "A folder searched for texture files (repeatable)")
        ->type_name("DIR")
        ->allow_extra_args(false);
    command
        .add_option("--txd", o.dictionaries,
                    "A texture dictionary the glTF export takes images from (repeatable; then the model's own .txd)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    command.add_flag("--no-progress", o.noProgress, "Draw no progress bar");
    command.add_flag("--without-game-material", o.withoutGameMaterial,
                     "Run the host without the game material plug-in");
    command.add_option("--plugin", o.plugin, "Plug-in library (default: " ORVIK_DEFAULT_PLUGIN " beside orvik)");
}

std::string checkBitmapPaths(const ModelOptions& o)
{
    for (const std::string& dir : o.bitmapPaths) {
        if (!isDirectory(dir)) return dir + ": --bitmap-path is not a folder";
    }
    return {};
}

std::string checkPaint(const ModelOptions& o)
{
    if (o.paint.size() > kDefaultPaint.size()) return "--paint: a vehicle has at most four paint colours";
    return {};
}

std::vector<std::array<std::uint8_t, 3>> paintColours(const ModelOptions& o)
{
    std::vector<std::array<std::uint8_t, 3>> colours;
    for (const std::string& text : o.paint) {
        const unsigned long rgb = std::stoul(text.substr(1), nullptr, 16);
        colours.push_back({static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                           static_cast<std::uint8_t>(rgb)});
    }
    return colours;
}

bool drawsProgress(const ModelOptions& o)
{
    return !o.noProgress && ::isatty(STDERR_FILENO) == 1;
}

}  // namespace orvik
