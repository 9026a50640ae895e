#pragma once
// The echo command's options, as the command line spells them.
#include <string>

#include "cli/echo_command.h"

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace cli {

// Declares every option of the echo command on command, filling options;
// --duration is left as given in duration (parseDuration reads it).
// Returns --runs, whose count tells whether it was given.
CLI::Option *addEchoOptions(CLI::App &command, EchoOptions &options, std::string &duration);

} // namespace cli
