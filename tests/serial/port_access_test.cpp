// Who may have a port: devices that are no serial port, a user without the
// right to open one, ports other programs hold, and the state a port is left
// in.  Pseudo-terminals and harmless files only.

#include "pty_helpers.h"
#include "serial/linux_termios2.h"
#include "serial/modcomm.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace serial {
namespace {

using serial::testing::PtyPair;

const std::string mode9600 = "baud=9600 parity=N data=8 stop=1";

std::string report(const modCOMM &comm)
{
    std::string text;
    comm.LastErrorReport(text);
    return text;
}

struct NotAPortCase {
    const char *name;
    std::string path; // "file": a fresh regular file; "dir": a fresh directory
    std::int32_t number;
    const char *source;
    SystemCause::Kind kind;
    friend void PrintTo(const NotAPortCase &c, std::ostream *os) { *os << c.name; }
};

class NotAPort : public ::testing::TestWithParam<NotAPortCase> {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/rebounce-access-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(dir));
        scratch = dir;
        const int fd = ::open((scratch + "/file").c_str(), O_CREAT | O_WRONLY, 0666);
        ASSERT_GE(fd, 0);
        ::close(fd);
        ASSERT_EQ(0, ::mkdir((scratch + "/dir").c_str(), 0777));
    }
    void TearDown() override
    {
        ::unlink((scratch + "/file").c_str());
        ::rmdir((scratch + "/dir").c_str());
        ::rmdir(scratch.c_str());
    }
    std::string scratch;
};

// Each names its real cause, and none reads as an unsupported rate or as a
// port in use.
TEST_P(NotAPort, FailsWithItsOwnCause)
{
    const auto &c = GetParam();
    const std::string path = c.path.front() == '/' ? c.path : scratch + "/" + c.path;
    modCOMM comm;
    EXPECT_EQ(c.number, comm.CommOpen(1, path, mode9600)) << report(comm);
    EXPECT_EQ(c.source, comm.LastErrorSource());
    EXPECT_EQ(c.kind, comm.LastErrorCause().kind);
    EXPECT_EQ(path, comm.LastErrorCause().devicePath);
    EXPECT_FALSE(comm.LastErrorSystemText().empty());
    EXPECT_EQ(0, comm.CommClose(1));
}

INSTANTIATE_TEST_SUITE_P(
    Devices, NotAPort,
    ::testing::Values(
        NotAPortCase{"RandomDevice", "/dev/urandom", 1, "CommOpen (SetupComm)", SystemCause::Kind::NotSerial},
        NotAPortCase{"NullDevice", "/dev/null", 1, "CommOpen (SetupComm)", SystemCause::Kind::NotSerial},
        NotAPortCase{"RegularFile", "file", 1, "CommOpen (SetupComm)", SystemCause::Kind::RegularFile},
        NotAPortCase{"Directory", "dir", 5, "CommOpen (CreateFile)", SystemCause::Kind::Directory}),
    [](const auto &info) { return std::string(info.param.name); });

// Runs body in a child process and hands back what it wrote to the pipe.
template <typename Body>
std::string inChild(Body body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const std::string answer = body();
        [[maybe_unused]] auto w = ::write(pipeFds[1], answer.data(), answer.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return answer;
}

std::string groupOf(const std::string &path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    const group *g = ::getgrgid(st.st_gid);
    return g ? g->gr_name : std::to_string(st.st_gid);
}

// A user who may not open the node learns so, with the group that may; not
// "already open".  As root this runs as nobody (uid and gid 65534, no
// supplementary groups), as setpriv --reuid=65534 --regid=65534
// --clear-groups would; as another user the pty is simply made unreadable.
TEST(PortAccess, PermissionDeniedNamesTheOwningGroup)
{
    PtyPair pty;
    const auto attempt = [&pty] {
        modCOMM comm;
        const std::int32_t result = comm.CommOpen(1, pty.path(), mode9600);
        const SystemCause &cause = comm.LastErrorCause();
        std::string answer = std::to_string(result) + "|" + std::to_string(static_cast<int>(cause.kind)) + "|" +
            cause.ownerGroup + "|" + cause.devicePath + "|" + cause.systemText;
        comm.CommClose(1);
        return answer;
    };
    std::string answer;
    if (::geteuid() == 0) {
        ASSERT_EQ(0, ::chmod(pty.path().c_str(), 0600));
        answer = inChild([&] {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0)
                return std::string("cannot drop privileges");
            return attempt();
        });
    } else {
        ASSERT_EQ(0, ::chmod(pty.path().c_str(), 0));
        answer = attempt();
    }
    EXPECT_EQ("5|" + std::to_string(static_cast<int>(SystemCause::Kind::Permission)) + "|" + groupOf(pty.path()) +
                  "|" + pty.path() + "|Permission denied",
              answer);
}

// Root passes a tty's exclusive mode; we must not, and must leave the
// other program's exclusive mode set.
TEST(PortAccess, ExclusiveModeOfAnotherProgramIsRespectedAndKept)
{
    PtyPair pty;
    const int other = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(0, ::ioctl(other, TIOCEXCL));

    modCOMM comm;
    EXPECT_EQ(5, comm.CommOpen(1, pty.path(), mode9600));
    EXPECT_EQ("Error (5): CommOpen (CreateFile) - Access is denied.\r\n", report(comm));
    EXPECT_EQ(SystemCause::Kind::Held, comm.LastErrorCause().kind);
    EXPECT_EQ(0, comm.CommClose(1));
    int exclusive = 0;
    ASSERT_EQ(0, ::ioctl(other, TIOCGEXCL, &exclusive));
    EXPECT_EQ(1, exclusive) << "the other program's exclusive mode was cleared";

    ASSERT_EQ(0, ::ioctl(other, TIOCNXCL));
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    ASSERT_EQ(0, ::ioctl(other, TIOCGEXCL, &exclusive));
    EXPECT_EQ(1, exclusive) << "an open port is exclusive";
    ASSERT_EQ(0, comm.CommClose(1));
    ASSERT_EQ(0, ::ioctl(other, TIOCGEXCL, &exclusive));
    EXPECT_EQ(0, exclusive) << "the exclusive mode we set goes with us";
    ::close(other);
}

// A process that has the line open; with the master as well it is the far
// end of a pseudo-terminal (a simulated board), which keeps the slave open
// only so that its side never sees a hang-up.
class LineHolder {
public:
    LineHolder(PtyPair &pty, bool farEnd)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(release_) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(release_[1]);
            ::close(ready[0]);
            if (!farEnd)
                ::close(pty.master());
            ::prctl(PR_SET_NAME, "minicom");
            const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
            [[maybe_unused]] auto w = ::write(ready[1], fd >= 0 ? "1" : "0", 1);
            char c;
            [[maybe_unused]] auto r = ::read(release_[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release_[0]);
        char opened = 0;
        holding_ = ::read(ready[0], &opened, 1) == 1 && opened == '1';
        ::close(ready[0]);
    }
    ~LineHolder()
    {
        ::close(release_[1]);
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    bool holding() const { return holding_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_[2] = {-1, -1};
    bool holding_ = false;
};

// A program with the port open and no lock at all (a terminal program, a
// shell on that line) is seen in /proc and named.
TEST(PortAccess, PlainHolderInAnotherProcessIsNamed)
{
    PtyPair pty;
    modCOMM comm;
    {
        LineHolder holder(pty, false);
        ASSERT_TRUE(holder.holding());
        EXPECT_EQ(5, comm.CommOpen(1, pty.path(), mode9600));
        EXPECT_EQ(SystemCause::Kind::Held, comm.LastErrorCause().kind);
        EXPECT_EQ("minicom", comm.LastErrorCause().holderProgram);
        EXPECT_EQ(holder.pid(), comm.LastErrorCause().holderPid);
        EXPECT_EQ(0, comm.CommClose(1));
    }
    EXPECT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    EXPECT_EQ(0, comm.CommClose(1));
}

TEST(PortAccess, FarEndOfAPseudoTerminalIsNoHolder)
{
    PtyPair pty;
    LineHolder board(pty, true);
    ASSERT_TRUE(board.holding());
    modCOMM comm;
    EXPECT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    EXPECT_EQ(0, comm.CommClose(1));
}

// Closing puts back what opening found: rate, line discipline flags,
// control characters.
TEST(PortAccess, LineSettingsAreRestoredAtClose)
{
    PtyPair pty;
    const int observer = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(observer, 0);
    termios before{};
    ASSERT_EQ(0, ::tcgetattr(observer, &before));
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    before.c_cc[VMIN] = 1;
    ::cfsetspeed(&before, B4800);
    ASSERT_EQ(0, ::tcsetattr(observer, TCSANOW, &before));
    ASSERT_EQ(0, ::tcgetattr(observer, &before));

    modCOMM comm;
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), "baud=115200 parity=N data=8 stop=1")) << report(comm);
    termios during{};
    ASSERT_EQ(0, ::tcgetattr(observer, &during));
    ASSERT_EQ(0u, during.c_lflag & ICANON) << "the port runs raw while open";
    ASSERT_EQ(10, comm.CommWrite(1, "ABCDEFGHIJ"));
    ASSERT_EQ(0, comm.CommClose(1));

    termios after{};
    ASSERT_EQ(0, ::tcgetattr(observer, &after));
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(before.c_oflag, after.c_oflag);
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(0, std::memcmp(before.c_cc, after.c_cc, sizeof before.c_cc));
    EXPECT_EQ(::cfgetospeed(&before), ::cfgetospeed(&after));
    ::close(observer);
}

// A 16550 runs at its clock / 16 over a whole divisor.  The driver reports
// the rate as asked, so the layer works out the real one and refuses what
// is more than 1% away, as the Windows driver does.
TEST(UartRate, IsTheClockOverTheNearestWholeDivisor)
{
    struct Case {
        std::uint32_t base, requested;
        double running;
    };
    const Case cases[] = {
        {115200, 115200, 115200}, {115200, 57600, 57600},  {115200, 9600, 9600},
        {115200, 100000, 115200}, {115200, 56000, 57600},  {115200, 45, 115200.0 / 2560},
        {115200, 110, 115200.0 / 1047}, {921600, 250000, 230400}, {921600, 460800, 460800},
        {115200, 230400, 230400}, // above the base: the driver's own answer counts
    };
    for (const Case &c : cases)
        EXPECT_DOUBLE_EQ(c.running, linuxtty::divisorRate(c.base, c.requested)) << c.base << " " << c.requested;
}

} // namespace
} // namespace serial
