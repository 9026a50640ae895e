#pragma once
// Exit statuses of rebounce-cli, shared by its commands.

namespace cli {

enum ExitStatus {
    kExitOk = 0,          // every run passed / the command succeeded
    kExitFailed = 1,      // a run failed, or the calculator refused the input
    kExitUsage = 2,       // the command line is wrong
    kExitOpenFailed = 3,  // the port could not be opened
    kExitAborted = 130,   // interrupted (Ctrl+C)
};

} // namespace cli
