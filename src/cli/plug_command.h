#pragma once
#include <iosfwd>

#include "serial/virtual_echo_plug.h"

namespace cli {

// Hosts the virtual echo plug: prints its device path on the first line of
// out, then answers until interrupted.  Returns an ExitStatus.
int runPlug(const serial::EchoPlugOptions &options, std::ostream &out, std::ostream &err);

} // namespace cli
