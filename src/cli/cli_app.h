#pragma once
// rebounce-cli: each command registers itself with the application
// (add<Name>Command in its own file); run() only builds, parses and returns.
#include "cli/exit_status.h"

namespace cli {

int run(int argc, char **argv);

} // namespace cli
