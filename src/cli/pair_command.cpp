#include "cli/pair_command.h"

#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/exit_status.h"
#include "cli/terminal.h"

namespace cli {

int runPair(const serial::LinkPairOptions &options, std::ostream &out, std::ostream &err)
{
    installInterruptHandler();
    serial::VirtualLinkPair link(options);
    if (!link.start()) {
        err << "The virtual link could not start: " << link.errorText() << '\n';
        return kExitFailed;
    }
    out << link.pathA() << '\n' << link.pathB() << '\n' << std::flush;
    waitForInterrupt();
    link.stop();
    err << "Link stopped: " << link.bytesCarried() << " bytes carried.\n";
    return kExitOk;
}

void addPairCommand(CLI::App &app, int &exitStatus)
{
    struct Options {
        serial::LinkPairOptions link;
        std::vector<std::size_t> drops;
        std::vector<std::size_t> corrupts;
        std::vector<std::size_t> adds;
        std::string dead;
    };
    auto options = std::make_shared<Options>();
    auto *command = app.add_subcommand(
        "pair", "Host two linked virtual ports (a null-modem cable); prints their device paths, A then B");
    command->add_option("--drop", options->drops,
                        "Lose the byte at this 0-based position of each direction (repeatable)");
    command->add_option("--corrupt", options->corrupts, "Garble the byte at this position (repeatable)");
    command->add_option("--add", options->adds, "Add one byte '+' after the byte at this position (repeatable)");
    command->add_option("--dead", options->dead, "A direction that carries nothing: a-to-b or b-to-a")
        ->check(CLI::Validator(
            [](const std::string &value) {
                return value == "a-to-b" || value == "b-to-a" ? std::string() : "must be a-to-b or b-to-a";
            },
            "DIRECTION"));
    command->add_flag("--crossed", options->link.crossed,
                      "Bytes come back on the port that sent them instead of reaching the other");
    command->add_option("--fault-period", options->link.faultPeriod,
                        "Repeat the fault positions with this period (1000: in every run)");
    command->callback([options, &exitStatus] {
        serial::LinkPairOptions link = options->link;
        link.dropAt.insert(options->drops.begin(), options->drops.end());
        link.corruptAt.insert(options->corrupts.begin(), options->corrupts.end());
        for (const std::size_t at : options->adds)
            link.addAt[at] = "+";
        link.deadAToB = options->dead == "a-to-b";
        link.deadBToA = options->dead == "b-to-a";
        exitStatus = runPair(link, std::cout, std::cerr);
    });
}

} // namespace cli
