#pragma once
#include <iosfwd>

#include "serial/virtual_link_pair.h"

namespace CLI {
class App;
}

namespace cli {

// rebounce-cli pair: two pseudo-terminals linked as by a null-modem cable,
// for tests that send on one port and listen on another.
void addPairCommand(CLI::App &app, int &exitStatus);

// Hosts the link: prints its two device paths on the first two lines of
// out, then carries bytes until interrupted.  Returns an ExitStatus.
int runPair(const serial::LinkPairOptions &options, std::ostream &out, std::ostream &err);

} // namespace cli
