// orvik: the command-line host. Loads an Orvik plug-in library through its
// exports the way the host application does. This file only parses the
// command line and hands it to the command named: info, import, convert, txd,
// img, ifp or col (each in a file of its own).
//
// Exit status: 0 success; 2 usage error, unusable file or plug-in; 3 the
// input held nothing that could be read; 4 some items of a batch failed.
#include <cctype>
#include <csignal>
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/ColCommand.h"
#include "cli/Convert.h"
#include "cli/ExitStatus.h"
#include "cli/IfpCommand.h"
#include "cli/ImgCommand.h"
#include "cli/ImportCommand.h"
#include "cli/Info.h"
#include "cli/Plugin.h"
#include "cli/TxdCommand.h"
#include "support/Text.h"

namespace {

int run(int argc, char** argv)
{
    const orvik::Invocation inv = orvik::invocationOf(argc, argv);
    CLI::App app{"Command-line host of the Orvik DFF import plug-in.", "orvik"};
    app.require_subcommand(1);

    std::string infoPlugin;
    CLI::App* info = orvik::addInfoCommand(app, infoPlugin);
    orvik::ImportOptions import;
    orvik::addImportCommand(app, import);
    orvik::TxdOptions txdOptions;
    const orvik::TxdCommand txd = orvik::addTxdCommand(app, txdOptions);
    orvik::ImgOptions imgOptions;
    const orvik::ImgCommand img = orvik::addImgCommand(app, imgOptions);
    orvik::IfpOptions ifpOptions;
    const orvik::IfpCommand ifp = orvik::addIfpCommand(app, ifpOptions);
    orvik::ColOptions colOptions;
    const orvik::ColCommand col = orvik::addColCommand(app, colOptions);
    orvik::ConvertOptions convertOptions;
    CLI::App* convert = orvik::addConvertCommand(app, convertOptions);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        if (what.size() > 1 && std::islower(static_cast<unsigned char>(what[1]))) {  // not "MODEL ..."
            what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
        }
        std::cerr << "orvik: " << what << " (see orvik --help)\n";
        return orvik::kExitUsage;
    }
    if (info->parsed()) return orvik::runInfoCommand(inv, infoPlugin);
    if (txd.txd != nullptr && txd.txd->parsed()) return orvik::runTxdCommand(txd, txdOptions);
    if (convert->parsed()) return orvik::runConvertCommand(inv, convertOptions);
    if (img.img->parsed()) return orvik::runImgCommand(img, imgOptions);
    if (ifp.ifp->parsed()) return orvik::runIfpCommand(ifp, ifpOptions);
    if (col.col->parsed()) return orvik::runColCommand(col, colOptions);
    return orvik::runImportCommand(inv, import);
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that closes standard output early (`| head`) must not end the
    // run before or while files are committed: writes fail with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const orvik::Failure& f) {
        std::cerr << "orvik: " << orvik::printablePath(f.message) << "\n";
    } catch (const std::exception& e) {
        std::cerr << "orvik: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "orvik: unexpected failure\n";
    }
    return orvik::kExitUsage;
}
