#pragma once
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace cli {

// rebounce-cli calc and rates.
void addCalcCommand(CLI::App &app, int &exitStatus);
void addRatesCommand(CLI::App &app, int &exitStatus);

// The calculator's results for both modes, as its labels show them, and the
// list line it selects.  Returns an ExitStatus.
int runCalc(const std::string &clock, const std::string &baud, bool json, std::ostream &out, std::ostream &err);

// The 8192 lines of the rate list for a clock, one per line.
int runRates(const std::string &clock, std::ostream &out, std::ostream &err);

} // namespace cli
