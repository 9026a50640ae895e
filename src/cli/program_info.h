#pragma once
// What rebounce-cli says about itself: --version, the defaults shown in
// --help and the exit statuses at the foot of it.
#include <string>

namespace CLI {
class App;
}

namespace cli {

// The --version text: program, package and version on the first line (the
// form help2man and packaging tools read), then copyright and licence.
std::string versionText();

// The exit statuses as --help lists them, one line each.
std::string exitStatusText();

// Adds --version and the exit-status footer, and makes every option added
// afterwards (subcommands included) show its default in --help.
void addProgramInfo(CLI::App &app);

} // namespace cli
