#include "cli/plug_command.h"

#include <ostream>

#include "cli/cli_app.h"
#include "cli/terminal.h"

namespace cli {

int runPlug(const serial::EchoPlugOptions &options, std::ostream &out, std::ostream &err)
{
    installInterruptHandler();
    serial::VirtualEchoPlug plug(options);
    if (!plug.start()) {
        err << "The virtual echo plug could not start: " << plug.errorText() << '\n';
        return kExitFailed;
    }
    out << plug.devicePath() << '\n' << std::flush;
    waitForInterrupt();
    plug.stop();
    err << "Echo plug stopped: " << plug.bytesReceived() << " bytes received, " << plug.bytesSent()
        << " bytes answered.\n";
    return kExitOk;
}

} // namespace cli
