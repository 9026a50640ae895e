#pragma once
#include <iosfwd>

#include "serial/virtual_echo_plug.h"

namespace CLI {
class App;
}

namespace cli {

// rebounce-cli plug: a virtual echo plug on a pseudo-terminal.
void addPlugCommand(CLI::App &app, int &exitStatus);

// Hosts the virtual echo plug: prints its device path on the first line of
// out, then answers until interrupted.  Returns an ExitStatus.
int runPlug(const serial::EchoPlugOptions &options, std::ostream &out, std::ostream &err);

} // namespace cli
