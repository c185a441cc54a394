// The `txd` command in a build without texture dictionaries (the 32-bit
// orvik): there is no such subcommand.
#include "cli/TxdCommand.h"

#include "cli/ExitStatus.h"

namespace orvik {

TxdCommand addTxdCommand(CLI::App&, TxdOptions&)
{
    return {};
}

int runTxdCommand(const TxdCommand&, const TxdOptions&)
{
    return kExitUsage;
}

}  // namespace orvik
