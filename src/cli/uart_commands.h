#pragma once
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace cli {

// rebounce-cli link and clocks: both ends of a line in any UART family, and
// the crystals that suit a family's rates best.
void addLinkCommand(CLI::App &app, int &exitStatus);
void addClocksCommand(CLI::App &app, int &exitStatus);

// calc --uart FAMILY: every mode's nearest setting, its rate, error and
// verdict for the frame.  Throws CLI::ValidationError on a bad value (the
// caller is inside CLI11's parse); returns an ExitStatus.
int runUartCalc(const std::string &family, const std::string &clock, const std::string &baud,
                const std::string &frame, bool json, std::ostream &out, std::ostream &err);

} // namespace cli
