// rebounce-wine-plug: the far end of a COM port under Wine.  Serves a
// virtual echo plug on a pseudo-terminal, maps it to COMn of the Wine prefix
// named by WINEPREFIX (the prefix's dosdevices/comN symlink), runs one
// command, unmaps the port and returns the command's status.  Runs natively
// on Linux; CTest puts it in front of Wine for the tests that need a port.
//
//   rebounce-wine-plug [--com N] [--lower-case] [--silent] [--instant] -- command [args...]
//
// --instant answers without line timing.  Under Wine a read that asks for
// more bytes than are queued waits out the port's whole 1000 ms read
// time-out (Windows returns at once), so with a line-timed echo the last
// bytes of a slow-rate run can come after the run's margin and the verdict
// would depend on the scheduler.

#include "serial/virtual_echo_plug.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t childPid = 0;

void forwardSignal(int sig)
{
    if (childPid > 0)
        ::kill(childPid, sig);
}

int usage()
{
    std::fprintf(stderr, "usage: rebounce-wine-plug [--com N] [--lower-case] [--silent] [--instant] -- command [args...]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int com = 1;
    serial::EchoPlugOptions options;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (arg == "--com" && first + 1 < argc) {
            com = std::atoi(argv[++first]);
        } else if (arg == "--lower-case") {
            options.lowerCase = true;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--instant") {
            options.lineTiming = false;
        } else {
            return usage();
        }
    }
    if (first >= argc || com < 1 || com > 256)
        return usage();

    const char *prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || *prefix == '\0') {
        std::fprintf(stderr, "rebounce-wine-plug: WINEPREFIX is not set\n");
        return 2;
    }
    const std::string dosdevices = std::string(prefix) + "/dosdevices";
    ::mkdir(prefix, 0755);
    ::mkdir(dosdevices.c_str(), 0755);
    const std::string link = dosdevices + "/com" + std::to_string(com);

    serial::VirtualEchoPlug plug(options);
    if (!plug.start()) {
        std::fprintf(stderr, "rebounce-wine-plug: %s\n", plug.errorText().c_str());
        return 2;
    }
    // A link left by an earlier run points at a terminal that is gone.
    ::unlink(link.c_str());
    if (::symlink(plug.devicePath().c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "rebounce-wine-plug: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return 2;
    }

    std::signal(SIGTERM, forwardSignal);
    std::signal(SIGINT, forwardSignal);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        ::execvp(argv[first], argv + first);
        std::fprintf(stderr, "rebounce-wine-plug: cannot run %s: %s\n", argv[first], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    if (pid > 0) {
        childPid = pid;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }

    ::unlink(link.c_str());
    plug.stop();
    std::fprintf(stderr, "rebounce-wine-plug: COM%d on %s, %llu bytes in, %llu bytes out\n", com,
                 plug.devicePath().c_str(), static_cast<unsigned long long>(plug.bytesReceived()),
                 static_cast<unsigned long long>(plug.bytesSent()));
    if (pid < 0)
        return 2;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
