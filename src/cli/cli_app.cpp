#include "cli/cli_app.h"

#include <CLI/CLI.hpp>

#include "cli/calc_command.h"
#include "cli/echo_command.h"
#include "cli/pair_command.h"
#include "cli/lines_command.h"
#include "cli/history_command.h"
#include "cli/plug_command.h"
#include "cli/ports_command.h"
#include "cli/program_info.h"
#include "cli/uart_commands.h"

namespace cli {

int run(int argc, char **argv)
{
    CLI::App app{"Rebounce Test from the command line: the serial echo test and the AVR baud-rate calculator.",
                 "rebounce-cli"};
    addProgramInfo(app);
    app.require_subcommand(1);

    int exitStatus = kExitOk;
    addEchoCommand(app, exitStatus);
    addCalcCommand(app, exitStatus);
    addRatesCommand(app, exitStatus);
    addLinkCommand(app, exitStatus);
    addClocksCommand(app, exitStatus);
    addLinesCommand(app, exitStatus);
    addPlugCommand(app, exitStatus);
    addPairCommand(app, exitStatus);
    addPortsCommand(app, exitStatus);
    addHistoryCommand(app, exitStatus);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : kExitUsage;
    }
    return exitStatus;
}

} // namespace cli
