#pragma once
// rebounce-cli: sub-commands echo, calc, rates, plug and ports.
#include <string>

namespace cli {

// Exit statuses shared by the sub-commands.
enum ExitStatus {
    kExitOk = 0,          // every run passed / the command succeeded
    kExitFailed = 1,      // a run failed, or the calculator refused the input
    kExitUsage = 2,       // the command line is wrong
    kExitOpenFailed = 3,  // the port could not be opened
    kExitAborted = 130,   // interrupted (Ctrl+C)
};

int run(int argc, char **argv);

// Bytes as JSON-safe UTF-8: each byte is taken as the code point of the
// same value, so any received data round-trips through a JSON parser.
std::string bytesAsUtf8(const std::string &bytes);

} // namespace cli
