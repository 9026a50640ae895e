// A small tool that runs inside the test guest, next to rebounce-cli, and
// does what busybox cannot: switch a UART's internal loopback, read the rate
// a driver really runs at, hold a port open like any other program would,
// and run a command as an unprivileged user.
//
//   guest-serial-tool loop DEVICE on|off|show   prints "loop=0|1"
//   guest-serial-tool rate DEVICE                prints "rate=N" (TCGETS2)
//   guest-serial-tool lines DEVICE               prints the modem lines that are on (TIOCMGET),
//                                                e.g. "lines=RTS,DTR,OUT2,LOOP,CTS,DSR,CAR"
//   guest-serial-tool hold DEVICE [exclusive]    prints "holding", waits for a signal
//   guest-serial-tool exclusive DEVICE           prints "exclusive=0|1" (TIOCGEXCL)
//   guest-serial-tool watch DEVICE               waits until the line goes away, then prints
//                                                what poll, read and write report
//   guest-serial-tool as UID GID[,GROUP...] PROGRAM ARGS...
//
// Exit status 0 on success, 1 with a message on standard error otherwise.

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <utility>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

// TIOCM_LOOP lives in <asm/termios.h>, whose struct winsize clashes with
// glibc's <sys/ioctl.h>.
constexpr int tiocmLoop = 0x8000;

int fail(const char *what, const char *device)
{
    std::fprintf(stderr, "guest-serial-tool: %s %s: %s\n", what, device, std::strerror(errno));
    return 1;
}

int usage()
{
    std::fputs("usage: guest-serial-tool loop DEVICE on|off|show | rate DEVICE | lines DEVICE |"
               " hold DEVICE [exclusive] |"
               " exclusive DEVICE | watch DEVICE | as UID GID[,GROUP...] PROGRAM ARGS...\n",
               stderr);
    return 1;
}

// O_NONBLOCK: a port without carrier detect must not keep the open waiting.
int openPort(const char *device)
{
    return open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

int loop(const char *device, std::string_view action)
{
    const int fd = openPort(device);
    if (fd < 0)
        return fail("open", device);
    if (action != "on" && action != "off" && action != "show")
        return usage();
    int bit = tiocmLoop;
    if (action == "on" && ioctl(fd, TIOCMBIS, &bit) != 0)
        return fail("TIOCMBIS", device);
    if (action == "off" && ioctl(fd, TIOCMBIC, &bit) != 0)
        return fail("TIOCMBIC", device);
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0)
        return fail("TIOCMGET", device);
    std::printf("loop=%d\n", (lines & tiocmLoop) ? 1 : 0);
    close(fd);
    return 0;
}

int rate(const char *device)
{
    const int fd = openPort(device);
    if (fd < 0)
        return fail("open", device);
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return fail("TCGETS2", device);
    std::printf("rate=%u\n", tio.c_ospeed);
    close(fd);
    return 0;
}

int lines(const char *device)
{
    const int fd = openPort(device);
    if (fd < 0)
        return fail("open", device);
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0)
        return fail("TIOCMGET", device);
    std::string text;
    for (const auto &[bit, name] : {std::pair{TIOCM_RTS, "RTS"}, {TIOCM_DTR, "DTR"}, {0x2000, "OUT1"},
                                    {0x4000, "OUT2"}, {tiocmLoop, "LOOP"}, {TIOCM_CTS, "CTS"}, {TIOCM_DSR, "DSR"},
                                    {TIOCM_CAR, "CAR"}, {TIOCM_RNG, "RNG"}}) {
        if (bits & bit)
            text += text.empty() ? name : std::string(",") + name;
    }
    std::printf("lines=%s\n", text.c_str());
    close(fd);
    return 0;
}

int exclusive(const char *device)
{
    const int fd = openPort(device);
    if (fd < 0)
        return fail("open", device);
    int set = 0;
    if (ioctl(fd, TIOCGEXCL, &set) != 0)
        return fail("TIOCGEXCL", device);
    std::printf("exclusive=%d\n", set ? 1 : 0);
    close(fd);
    return 0;
}

volatile std::sig_atomic_t stopRequested = 0;

void onStop(int) { stopRequested = 1; }

// Holds the port as a terminal program would; with "exclusive" it also takes
// the exclusive mode, as many of them do.
int hold(const char *device, bool takeExclusive)
{
    struct sigaction action {};
    action.sa_handler = onStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const int fd = openPort(device);
    if (fd < 0)
        return fail("open", device);
    if (takeExclusive && ioctl(fd, TIOCEXCL) != 0)
        return fail("TIOCEXCL", device);
    std::printf("holding\n");
    std::fflush(stdout);
    while (!stopRequested)
        pause();
    close(fd);
    return 0;
}

std::string pollFlags(short revents)
{
    std::string text;
    for (const auto &[bit, name] : {std::pair{POLLIN, "POLLIN"}, {POLLOUT, "POLLOUT"}, {POLLERR, "POLLERR"},
                                    {POLLHUP, "POLLHUP"}, {POLLNVAL, "POLLNVAL"}}) {
        if (revents & bit)
            text += text.empty() ? name : std::string("|") + name;
    }
    return text;
}

// What a program sees when the device goes away under it (an unplugged USB
// adapter): the first poll result that is not plain input, then one read
// and one write.
int watch(const char *device)
{
    const int fd = openPort(device);
    if (fd < 0)
        return fail("open", device);
    std::printf("watching\n");
    std::fflush(stdout);
    pollfd p{fd, POLLIN, 0};
    char buffer[64];
    for (;;) {
        if (poll(&p, 1, -1) < 0)
            return fail("poll", device);
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            break;
        if (read(fd, buffer, sizeof buffer) < 0 && errno != EAGAIN)
            break;
    }
    std::printf("poll=%s\n", pollFlags(p.revents).c_str());
    const ssize_t got = read(fd, buffer, sizeof buffer);
    std::printf("read=%zd%s%s\n", got, got < 0 ? " " : "", got < 0 ? std::strerror(errno) : "");
    const ssize_t put = write(fd, "A", 1);
    std::printf("write=%zd%s%s\n", put, put < 0 ? " " : "", put < 0 ? std::strerror(errno) : "");
    close(fd);
    return 0;
}

int runAs(char **argv)
{
    const uid_t uid = static_cast<uid_t>(std::strtoul(argv[0], nullptr, 10));
    std::vector<gid_t> groups;
    for (const char *field = argv[1]; *field;) {
        char *end = nullptr;
        groups.push_back(static_cast<gid_t>(std::strtoul(field, &end, 10)));
        field = *end == ',' ? end + 1 : end;
    }
    if (groups.empty())
        return usage();
    // Supplementary groups first and the user last: each step needs the
    // privilege the next one gives up.
    if (setgroups(groups.size() - 1, groups.data() + 1) != 0 || setgid(groups.front()) != 0 || setuid(uid) != 0)
        return fail("dropping to", argv[0]);
    execvp(argv[2], argv + 2);
    return fail("exec", argv[2]);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string_view command = argv[1];
    if (command == "loop" && argc == 4)
        return loop(argv[2], argv[3]);
    if (command == "rate" && argc == 3)
        return rate(argv[2]);
    if (command == "lines" && argc == 3)
        return lines(argv[2]);
    if (command == "hold" && argc == 3)
        return hold(argv[2], false);
    if (command == "hold" && argc == 4 && std::string_view(argv[3]) == "exclusive")
        return hold(argv[2], true);
    if (command == "watch" && argc == 3)
        return watch(argv[2]);
    if (command == "exclusive" && argc == 3)
        return exclusive(argv[2]);
    if (command == "as" && argc >= 5)
        return runAs(argv + 2);
    return usage();
}
