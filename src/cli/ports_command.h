#pragma once
// rebounce-cli ports: the serial devices of this machine, one a line, or
// as JSON.
#include <functional>
#include <iosfwd>
#include <vector>

#include "serial/port_discovery.h"

namespace CLI {
class App;
}

namespace cli {

using PortDiscovery = std::function<std::vector<serial::SerialDevice>()>;

// Adds the "ports" subcommand; its callback stores its exit status.
void addPortsCommand(CLI::App &app, int &exitStatus);
// The same over another discovery and stream (tests).
void addPortsCommand(CLI::App &app, int &exitStatus, PortDiscovery discover, std::ostream &out);

} // namespace cli
