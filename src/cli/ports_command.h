#pragma once
#include <iosfwd>

namespace CLI {
class App;
}

namespace cli {

// rebounce-cli ports: the serial devices of this machine, one a line.
void addPortsCommand(CLI::App &app, int &exitStatus);

// Returns an ExitStatus.
int runPorts(std::ostream &out);

} // namespace cli
