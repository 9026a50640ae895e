#pragma once
// The window program's own command line.  --help and --version are
// answered before the toolkit starts, so they work without a display (a
// terminal, a package build running help2man); every other argument is left
// for the toolkit and the window.
#include <iosfwd>
#include <optional>
#include <string>

namespace startup {

std::string helpText();
std::string versionText();

// Prints the help or the version to out when the arguments ask for one and
// returns the exit status; returns nothing when the program should go on.
std::optional<int> answerInfoRequest(int argc, const char *const *argv, std::ostream &out);

} // namespace startup
