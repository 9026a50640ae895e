// The serial calls on Linux: termios behind the same contract as the
// Windows calls, answering with Windows error numbers and texts so that the
// layer above and everything that reads its reports behave the same.

#include "serial/comm_mode.h"
#include "serial/comm_platform.h"
#include "serial/errno_mapping.h"
#include "serial/linux_device_tree.h"
#include "serial/linux_error_marks.h"
#include "serial/linux_rs485.h"
#include "serial/linux_termios2.h"
#include "serial/modem_lines_linux.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t maxDword = 0xFFFFFFFFu;
// A driver may round a rate; more than this away counts as refused.
constexpr double rateTolerance = 0.01;

thread_local std::uint32_t lastError = 0;
thread_local SystemCause lastCauseValue;

bool failWith(std::uint32_t error)
{
    lastError = error;
    lastCauseValue = {};
    return false;
}

bool failWith(std::uint32_t error, SystemCause cause)
{
    lastError = error;
    lastCauseValue = std::move(cause);
    return false;
}

std::string errnoText(int error) { return std::strerror(error); }

SystemCause causeOf(SystemCause::Kind kind, int error, const std::string &path)
{
    SystemCause cause;
    cause.kind = kind;
    cause.systemError = error;
    cause.systemText = error ? errnoText(error) : std::string();
    cause.devicePath = path;
    return cause;
}

// Every failure keeps errno's own text beside the Windows number.
bool failErrno(int error) { return failWith(windowsErrorForErrno(error), causeOf(SystemCause::Kind::None, error, {})); }

// A transfer that meets a device which went away (a USB adapter pulled
// out, a far end that hung up) ends as Windows ends it for a removed
// device: "Access is denied."
bool failLost(int error, const std::string &path, const char *hangUpText = nullptr)
{
    SystemCause cause = causeOf(SystemCause::Kind::Lost, error, path);
    if (hangUpText)
        cause.systemText = hangUpText;
    return failWith(winerr::accessDenied, std::move(cause));
}

bool failTransfer(int error, const std::string &path)
{
    return errnoMeansLineGone(error) ? failLost(error, path) : failErrno(error);
}

constexpr char hangUpText[] = "The line was hung up (POLLHUP)";
constexpr char lineErrorText[] = "The line reported an error (POLLERR)";

// Polls without waiting: the text for a line that has gone away, else null.
const char *lineGoneText(short revents)
{
    if (revents & POLLERR)
        return lineErrorText;
    if (revents & POLLHUP)
        return hangUpText;
    return nullptr;
}

const char *lineGoneNow(int fd)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return nullptr;
    return lineGoneText(p.revents);
}

// What the system knows about its devices: where a COM name leads, which
// driver a tty has, who else holds one.
const LinuxDeviceTree &deviceTree()
{
    static const LinuxDeviceTree tree;
    return tree;
}

// The first other process with the device open.  fresh: look again
// whatever the last look saw.
bool findHolder(dev_t rdev, std::string &program, std::int64_t &pid, bool fresh = true)
{
    static HolderCache cache(deviceTree());
    const std::optional<PortHolder> holder = cache.holderOf(rdev, ::getpid(), fresh);
    if (!holder)
        return false;
    program = holder->program;
    pid = holder->pid;
    return true;
}

// A UART whose rates come from one clock divider (the 8250 family).
bool isPlainUart(const std::string &path)
{
    const LinuxDeviceTree &tree = deviceTree();
    return driverDividesAClock(tree.driverOf(tree.ttyOf(path)));
}

SystemCause heldCause(int error, const std::string &path, dev_t rdev)
{
    SystemCause cause = causeOf(SystemCause::Kind::Held, error, path);
    if (rdev != 0)
        findHolder(rdev, cause.holderProgram, cause.holderPid);
    return cause;
}

SystemCause permissionCause(int error, const std::string &path)
{
    SystemCause cause = causeOf(SystemCause::Kind::Permission, error, path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return cause;
    cause.ownerGroupIsRoot = st.st_gid == 0;
    std::vector<char> buffer(4096);
    group entry {};
    group *found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        cause.ownerGroup = found->gr_name;
    else
        cause.ownerGroup = std::to_string(st.st_gid);
    return cause;
}

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

class PosixCommPlatform : public CommPlatform {
public:
    CommHandle createFile(const std::string &deviceName) override;
    bool setupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool purgeComm(CommHandle handle, std::uint32_t flags) override;
    bool setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts) override;
    bool getCommState(CommHandle handle, Dcb &dcb) override;
    bool buildCommDcb(const std::string &mode, Dcb &dcb) override;
    bool setCommState(CommHandle handle, const Dcb &dcb) override;
    bool clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued) override;
    bool readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                  CommOverlapped &overlapped) override;
    bool writeFile(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &bytesWritten,
                   CommOverlapped &overlapped) override;
    bool getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes,
                             bool wait) override;
    bool closeHandle(CommHandle handle) override;
    std::uint32_t getLastError() const override { return lastError; }
    SystemCause lastCause() const override { return lastCauseValue; }
    bool lineErrorCounts(CommHandle handle, LineErrorCounts &counts) override;
    bool takeErrorMarks(CommHandle handle, std::vector<std::uint64_t> &positions) override;
    bool setRs485(CommHandle handle, const Rs485Mode &mode) override;
    std::uint32_t formatMessage(std::uint32_t code, char *buffer, std::uint32_t size) override;
    void waitForInput(CommHandle handle, int timeoutMs) override;
    void waitForAnyInput(const std::vector<CommHandle> &handles, std::chrono::microseconds timeout,
                         std::vector<bool> &ready) override;
    bool writesWithoutWaiting() const override { return true; }
    bool writeFileNoWait(CommHandle handle, const char *data, std::uint32_t count,
                         std::uint32_t &bytesWritten) override;
    bool getModemLines(CommHandle handle, std::uint32_t &lines) override;
    bool setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower) override;
    std::uint32_t modemOutputs(CommHandle handle) override;
    bool waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs) override;
    bool queueOutput(CommHandle handle, const char *data, std::uint32_t count, std::uint32_t &accepted) override;
    bool outputQueued(CommHandle handle, std::uint32_t &bytes) override;

private:
    struct PortState {
        CommTimeouts timeouts{};
        LineErrorCounts counters{};
        bool hasCounters = false;
        LineErrorCounts atOpen{}; // the driver's counts when we took the port
        std::string path;
        bool isTerminal = false;
        bool isPseudoTerminal = false;
        std::optional<Dcb> frameSet; // the frame setCommState gave a pseudo-terminal
        bool regularFile = false;
        bool exclusiveIsOurs = false; // clear at close only the exclusive mode we set
        linuxtty::SavedLine saved;    // put back at close
        linuxtty::SavedRs485 savedRs485; // likewise, once the RS-485 mode was set
        // With a parity frame the line discipline marks the bytes that came
        // in error (PARMRK); reads take the marks out again.
        bool marksErrors = false;
        linuxtty::ErrorMarkDecoder marks;
        std::uint64_t marksTakenAt = 0; // bytes given when takeErrorMarks last ran
    };

    // Only descriptors this platform opened are ever touched: a stale or
    // foreign handle fails as invalid instead of reaching another file.
    bool lookup(CommHandle handle, PortState *copy = nullptr);
    enum class Wait { Ready, TimedOut, Gone };
    Wait waitReadable(int fd, int timeoutMs, const char **goneText = nullptr);
    bool drainOutput(int fd, Clock::time_point deadline, bool hasDeadline, std::uint32_t &unsent);
    bool writeAll(const PortState &state, int fd, const char *data, std::uint32_t count, std::uint32_t &bytesWritten,
                  Clock::time_point deadline, bool hasDeadline);
    bool applyPseudoTerminalFrame(CommHandle handle, const termios &tio, Dcb &state);
    bool failModemLines(int error, const PortState &state);

    std::mutex mutex_;
    std::map<int, PortState> ports_;
};

bool PosixCommPlatform::lookup(CommHandle handle, PortState *copy)
{
    std::lock_guard lock(mutex_);
    const auto it = ports_.find(static_cast<int>(handle));
    if (handle < 0 || it == ports_.end())
        return failWith(winerr::invalidHandle);
    if (copy)
        *copy = it->second;
    return true;
}

CommHandle PosixCommPlatform::createFile(const std::string &deviceName)
{
    const std::string path = LinuxDeviceTree::devicePathFor(deviceName);
    if (path.empty()) {
        failWith(winerr::fileNotFound);
        return invalidCommHandle;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        const dev_t rdev = ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) ? st.st_rdev : 0;
        if (error == EACCES || error == EPERM)
            failWith(winerr::accessDenied, permissionCause(error, path));
        else if (error == EBUSY) // exclusive mode set by another program
            failWith(winerr::accessDenied, heldCause(error, path, rdev));
        else if (error == EISDIR) // Windows, too, denies opening a folder as a file
            failWith(winerr::accessDenied, causeOf(SystemCause::Kind::Directory, error, path));
        else {
            failErrno(error);
            lastCauseValue.devicePath = path;
        }
        return invalidCommHandle;
    }
    const auto refuse = [fd](SystemCause cause) {
        ::close(fd);
        failWith(winerr::accessDenied, std::move(cause));
        return invalidCommHandle;
    };
    struct stat st {};
    ::fstat(fd, &st);
    const dev_t rdev = S_ISCHR(st.st_mode) ? st.st_rdev : 0;

    // Share mode 0, as Windows opens a port: refuse a port that any other
    // program holds, and take it so that no one else gets it meanwhile.
    // An advisory lock catches programs that honour it (and root) ...
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            return refuse(heldCause(error, path, rdev));
        ::close(fd);
        failErrno(error);
        return invalidCommHandle;
    }
    PortState state;
    state.path = path;
    state.regularFile = S_ISREG(st.st_mode);
    state.isTerminal = ::isatty(fd);
    // Pseudo-terminal slaves are majors 136..143.
    state.isPseudoTerminal = rdev != 0 && ::major(rdev) >= 136 && ::major(rdev) <= 143;
    if (state.isTerminal) {
        // ... the exclusive mode of the tty keeps everyone but root out; root
        // passes it, so ask before taking the port ...
        int exclusive = 0;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
            return refuse(heldCause(EBUSY, path, rdev));
        // ... and a program that uses neither still has it open.
        SystemCause holder = causeOf(SystemCause::Kind::Held, EBUSY, path);
        if (rdev != 0 && findHolder(rdev, holder.holderProgram, holder.holderPid, false))
            return refuse(std::move(holder));
        linuxtty::saveLine(fd, state.saved);
        state.exclusiveIsOurs = ::ioctl(fd, TIOCEXCL) == 0;
        state.hasCounters = linuxtty::getLineCounters(fd, state.counters);
        state.atOpen = state.counters;
    }
    std::lock_guard lock(mutex_);
    ports_[fd] = state;
    return fd;
}

bool PosixCommPlatform::setupComm(CommHandle handle, std::uint32_t, std::uint32_t)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    // Asked by the descriptor's type, not by a terminal call's errno: some
    // drivers (/dev/urandom) answer those with EINVAL, which would read as
    // an unsupported rate.
    if (!state.isTerminal)
        return failWith(winerr::invalidFunction,
                        causeOf(state.regularFile ? SystemCause::Kind::RegularFile : SystemCause::Kind::NotSerial,
                                ENOTTY, state.path));
    return true; // the driver's queues have fixed sizes
}

bool PosixCommPlatform::purgeComm(CommHandle handle, std::uint32_t flags)
{
    if (!lookup(handle))
        return false;
    const bool rx = flags & purgeflags::rxClear;
    const bool tx = flags & purgeflags::txClear;
    if (!rx && !tx)
        return true; // nothing is ever pending to abort: all transfers are synchronous
    if (::tcflush(static_cast<int>(handle), rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) != 0)
        return failErrno(errno);
    return true;
}

bool PosixCommPlatform::setCommTimeouts(CommHandle handle, const CommTimeouts &timeouts)
{
    std::lock_guard lock(mutex_);
    const auto it = ports_.find(static_cast<int>(handle));
    if (handle < 0 || it == ports_.end())
        return failWith(winerr::invalidHandle);
    it->second.timeouts = timeouts;
    return true;
}

bool PosixCommPlatform::getCommState(CommHandle handle, Dcb &dcb)
{
    if (!lookup(handle))
        return false;
    const int fd = static_cast<int>(handle);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return failErrno(errno);
    std::uint32_t rate = 0;
    if (const int error = linuxtty::getLineRate(fd, rate))
        return failErrno(error);
    Dcb state = dcb;
    state.baudRate = rate;
    switch (tio.c_cflag & CSIZE) {
    case CS5: state.byteSize = 5; break;
    case CS6: state.byteSize = 6; break;
    case CS7: state.byteSize = 7; break;
    default: state.byteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        state.parity = Dcb::NoParity;
    else if (tio.c_cflag & CMSPAR)
        state.parity = (tio.c_cflag & PARODD) ? Dcb::MarkParity : Dcb::SpaceParity;
    else
        state.parity = (tio.c_cflag & PARODD) ? Dcb::OddParity : Dcb::EvenParity;
    if (tio.c_cflag & CSTOPB)
        state.stopBits = state.byteSize == 5 ? Dcb::One5StopBits : Dcb::TwoStopBits;
    else
        state.stopBits = Dcb::OneStopBit;
    const bool rtscts = tio.c_cflag & CRTSCTS;
    state.outxCtsFlow = rtscts;
    state.outxDsrFlow = false;
    state.dsrSensitivity = false;
    state.outX = tio.c_iflag & IXON;
    state.inX = tio.c_iflag & IXOFF;
    if (!applyPseudoTerminalFrame(handle, tio, state))
        return false;
    int lines = 0;
    const bool haveLines = ::ioctl(fd, TIOCMGET, &lines) == 0;
    state.dtrControl = !haveLines || (lines & TIOCM_DTR) ? Dcb::LineEnable : Dcb::LineDisable;
    state.rtsControl = rtscts ? Dcb::LineHandshake
                              : (!haveLines || (lines & TIOCM_RTS) ? Dcb::LineEnable : Dcb::LineDisable);
    dcb = state;
    return true;
}

bool PosixCommPlatform::buildCommDcb(const std::string &mode, Dcb &dcb)
{
    if (!parseCommMode(mode, dcb))
        return failWith(winerr::invalidParameter);
    return true;
}

bool PosixCommPlatform::setCommState(CommHandle handle, const Dcb &dcb)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    const int fd = static_cast<int>(handle);
    if (dcb.baudRate == 0 || dcb.byteSize < 5 || dcb.byteSize > 8 || dcb.parity > Dcb::SpaceParity ||
        dcb.stopBits > Dcb::TwoStopBits || (dcb.stopBits == Dcb::One5StopBits && dcb.byteSize != 5))
        return failWith(winerr::invalidParameter);

    termios original{};
    if (::tcgetattr(fd, &original) != 0)
        return failErrno(errno);
    std::uint32_t originalRate = 0;
    linuxtty::getLineRate(fd, originalRate);

    termios tio = original;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[dcb.byteSize - 5];
    switch (dcb.parity) {
    case Dcb::OddParity: tio.c_cflag |= PARENB | PARODD; break;
    case Dcb::EvenParity: tio.c_cflag |= PARENB; break;
    case Dcb::MarkParity: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case Dcb::SpaceParity: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.stopBits != Dcb::OneStopBit)
        tio.c_cflag |= CSTOPB;
    if (dcb.outxCtsFlow || dcb.rtsControl == Dcb::LineHandshake)
        tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (dcb.outX)
        tio.c_iflag |= IXON;
    if (dcb.inX)
        tio.c_iflag |= IXOFF;
    // Check the parity of what comes in: a driver that counts parity
    // errors otherwise passes the bytes on as if they were sound.  Have the
    // bytes in error marked, so that a run can say where they were, and
    // never dropped (IGNPAR).
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | IGNPAR);
    if (dcb.parity != Dcb::NoParity)
        tio.c_iflag |= INPCK | PARMRK;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return failErrno(errno);

    // Windows refuses a rate the port cannot run at and keeps the old state;
    // do the same, also when the driver quietly substitutes a nearby rate.
    std::uint32_t effective = 0;
    int error = linuxtty::setLineRate(fd, dcb.baudRate);
    if (error == 0)
        error = linuxtty::getLineRate(fd, effective);
    // The 8250 driver reports the rate as asked when it lies within the
    // chip's range, yet runs at the clock over the nearest whole divisor;
    // that is the rate to judge, as Windows' serial driver judges it.
    double running = effective;
    std::uint32_t baudBase = 0;
    if (error == 0 && isPlainUart(state.path) && linuxtty::getBaudBase(fd, baudBase))
        running = linuxtty::divisorRate(baudBase, effective);
    const bool refused = error == EINVAL ||
        (error == 0 && std::abs(running - dcb.baudRate) > rateTolerance * dcb.baudRate);
    if (error != 0 || refused) {
        ::tcsetattr(fd, TCSANOW, &original);
        if (originalRate != 0)
            linuxtty::setLineRate(fd, originalRate);
        return refused ? failWith(winerr::invalidParameter) : failErrno(error);
    }

    // Pseudo-terminals have no modem lines; their refusal is not an error.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    ::ioctl(fd, dcb.dtrControl == Dcb::LineDisable ? TIOCMBIC : TIOCMBIS, &dtr);
    if (dcb.rtsControl != Dcb::LineHandshake)
        ::ioctl(fd, dcb.rtsControl == Dcb::LineDisable ? TIOCMBIC : TIOCMBIS, &rts);
    // Marks are taken out of the reads only where the driver keeps PARMRK:
    // without it an 0xFF data byte is not doubled.
    termios kept{};
    const bool marking = ::tcgetattr(fd, &kept) == 0 && (kept.c_iflag & PARMRK) && (kept.c_iflag & INPCK);
    std::lock_guard lock(mutex_);
    PortState &live = ports_[fd];
    if (state.isPseudoTerminal)
        live.frameSet = dcb;
    if (marking != live.marksErrors) {
        live.marksErrors = marking;
        live.marks = {};
        live.marksTakenAt = 0;
    }
    return true;
}

// A pseudo-terminal's driver has no line to frame: it carries whole bytes
// and states 8 data bits without parity whatever it was given, yet keeps the
// rest (stop bits, odd or mark parity, the input parity check).  What it
// keeps is read back from the driver; its data bits and whether parity is
// on are the ones set through this handle, if they agree with what it kept.
bool PosixCommPlatform::applyPseudoTerminalFrame(CommHandle handle, const termios &tio, Dcb &state)
{
    PortState port;
    if (!lookup(handle, &port))
        return false;
    if (!port.isPseudoTerminal || !port.frameSet)
        return true;
    const Dcb &set = *port.frameSet;
    const bool parityKept = set.parity == Dcb::NoParity || (tio.c_iflag & INPCK);
    if (!parityKept)
        return true;
    state.byteSize = set.byteSize;
    if (set.parity != Dcb::NoParity) {
        if (tio.c_cflag & CMSPAR)
            state.parity = (tio.c_cflag & PARODD) ? Dcb::MarkParity : Dcb::SpaceParity;
        else
            state.parity = (tio.c_cflag & PARODD) ? Dcb::OddParity : Dcb::EvenParity;
    }
    if (tio.c_cflag & CSTOPB)
        state.stopBits = state.byteSize == 5 ? Dcb::One5StopBits : Dcb::TwoStopBits;
    return true;
}

bool PosixCommPlatform::clearCommError(CommHandle handle, std::uint32_t &errors, std::uint32_t &queued)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    const int fd = static_cast<int>(handle);
    int available = 0;
    if (::ioctl(fd, FIONREAD, &available) != 0)
        return failTransfer(errno, state.path);
    queued = static_cast<std::uint32_t>(std::max(available, 0));
    errors = 0;
    // What came before a hang-up can still be read; after that the line is
    // gone, and saying "nothing queued" would have the caller poll forever.
    if (queued == 0) {
        if (const char *gone = lineGoneNow(fd))
            return failLost(0, state.path, gone);
    }

    LineErrorCounts now;
    if (!linuxtty::getLineCounters(fd, now))
        return true;
    std::lock_guard lock(mutex_);
    auto &live = ports_[fd];
    if (live.hasCounters) {
        const auto &before = live.counters;
        if (now.bufferOverrun != before.bufferOverrun)
            errors |= commflags::rxOver;
        if (now.overrun != before.overrun)
            errors |= commflags::overrun;
        if (now.parity != before.parity)
            errors |= commflags::rxParity;
        if (now.framing != before.framing)
            errors |= commflags::frame;
        if (now.breaks != before.breaks)
            errors |= commflags::breakSeen;
    }
    live.counters = now;
    live.hasCounters = true;
    return true;
}

bool PosixCommPlatform::setRs485(CommHandle handle, const Rs485Mode &mode)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    linuxtty::SavedRs485 saved = state.savedRs485;
    linuxtty::SavedRs485 found;
    const int error = linuxtty::setRs485(static_cast<int>(handle), mode, found);
    if (error != 0) {
        // A driver without the mode answers ENOTTY (a pseudo-terminal, most
        // USB adapters) or takes the call and keeps it off.
        SystemCause cause = causeOf(SystemCause::Kind::None, error, state.path);
        if (error == EOPNOTSUPP)
            cause.systemText = "the driver keeps its RS-485 mode off";
        return failWith(winerr::invalidFunction, std::move(cause));
    }
    std::lock_guard lock(mutex_);
    // Only the setting found before our first change is put back.
    ports_[static_cast<int>(handle)].savedRs485 = saved.valid ? saved : found;
    return true;
}

bool PosixCommPlatform::lineErrorCounts(CommHandle handle, LineErrorCounts &counts)
{
    PortState state;
    if (!lookup(handle, &state) || !state.hasCounters)
        return false;
    LineErrorCounts now;
    if (!linuxtty::getLineCounters(static_cast<int>(handle), now))
        return false;
    // The counters run on from the driver's start; only ours count.
    counts.framing = now.framing - state.atOpen.framing;
    counts.overrun = now.overrun - state.atOpen.overrun;
    counts.bufferOverrun = now.bufferOverrun - state.atOpen.bufferOverrun;
    counts.parity = now.parity - state.atOpen.parity;
    counts.breaks = now.breaks - state.atOpen.breaks;
    return true;
}

bool PosixCommPlatform::takeErrorMarks(CommHandle handle, std::vector<std::uint64_t> &positions)
{
    positions.clear();
    std::lock_guard lock(mutex_);
    const auto it = ports_.find(static_cast<int>(handle));
    if (handle < 0 || it == ports_.end() || !it->second.marksErrors)
        return false;
    PortState &live = it->second;
    for (const std::uint64_t at : live.marks.marks())
        if (at >= live.marksTakenAt)
            positions.push_back(at - live.marksTakenAt);
    live.marks.clearMarks();
    live.marksTakenAt = live.marks.delivered();
    return true;
}

PosixCommPlatform::Wait PosixCommPlatform::waitReadable(int fd, int timeoutMs, const char **goneText)
{
    pollfd p{fd, POLLIN, 0};
    int result = 0;
    do {
        result = ::poll(&p, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result <= 0)
        return Wait::TimedOut;
    if (!(p.revents & POLLIN)) {
        if (const char *gone = lineGoneText(p.revents)) {
            if (goneText)
                *goneText = gone;
            return Wait::Gone;
        }
    }
    return Wait::Ready;
}

bool PosixCommPlatform::readFile(CommHandle handle, char *buffer, std::uint32_t count, std::uint32_t &bytesRead,
                                 CommOverlapped &)
{
    bytesRead = 0;
    PortState state;
    if (!lookup(handle, &state))
        return false;
    const int fd = static_cast<int>(handle);
    const CommTimeouts &t = state.timeouts;
    // With an interval of MAXDWORD and no multiplier, Windows returns what is
    // queued at once, and when nothing is, returns with the first byte that
    // arrives within the constant.  Otherwise it waits for the whole count up
    // to multiplier * count + constant (0 for both: no limit).
    const bool firstBytesOnly = t.readIntervalTimeout == maxDword && t.readTotalTimeoutMultiplier == 0;
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(t.readTotalTimeoutMultiplier) * count + t.readTotalTimeoutConstant;
    const bool unlimited = !firstBytesOnly && totalMs == 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);

    while (bytesRead < count) {
        ssize_t n = ::read(fd, buffer + bytesRead, count - bytesRead);
        if (n > 0 && state.marksErrors) {
            bool midSequence = false;
            {
                std::lock_guard lock(mutex_);
                linuxtty::ErrorMarkDecoder &marks = ports_[fd].marks;
                n = static_cast<ssize_t>(marks.decode(buffer + bytesRead, static_cast<std::size_t>(n)));
                midSequence = marks.midSequence();
            }
            // The rest of a mark sequence the count cut is queued already.
            if (n == 0 && midSequence)
                continue;
        }
        if (n > 0) {
            bytesRead += static_cast<std::uint32_t>(n);
            if (firstBytesOnly)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return failTransfer(errno, state.path);
        // n == 0 on a tty in non-canonical mode means no data, like EAGAIN;
        // on a hung-up tty it is the end of the line.
        if (n == 0) {
            if (const char *gone = lineGoneNow(fd))
                return failLost(0, state.path, gone);
        }
        const int wait = unlimited ? -1 : remainingMs(deadline);
        if (wait == 0 || (firstBytesOnly && totalMs == 0))
            break;
        const char *gone = nullptr;
        const Wait waited = waitReadable(fd, wait, &gone);
        if (waited == Wait::Gone)
            return failLost(0, state.path, gone);
        if (waited == Wait::TimedOut && !unlimited && remainingMs(deadline) == 0)
            break;
    }
    return true; // a time-out is a short read, not a failure
}

bool PosixCommPlatform::drainOutput(int fd, Clock::time_point deadline, bool hasDeadline, std::uint32_t &unsent)
{
    unsent = 0;
    std::uint32_t rate = 0;
    linuxtty::getLineRate(fd, rate);
    for (;;) {
        int queuedOut = 0;
        if (::ioctl(fd, TIOCOUTQ, &queuedOut) != 0) {
            if (errnoMeansLineGone(errno))
                return true; // the write that follows, or the next call, reports it
            ::tcdrain(fd); // no queue report: wait without a limit
            return true;
        }
        if (queuedOut <= 0)
            return true;
        if (hasDeadline && remainingMs(deadline) == 0) {
            unsent = static_cast<std::uint32_t>(queuedOut);
            return false;
        }
        // Sleep about as long as the queue needs on the line, in short steps
        // (10 bytes take 87 us at 115200: a whole millisecond per chunk
        // would stretch the send of 1000 bytes past their line time).
        const double lineUs = rate ? queuedOut * 10.0 * 1e6 / rate : 1000.0;
        long long stepUs = static_cast<long long>(std::clamp(lineUs, 100.0, 20000.0));
        if (hasDeadline)
            stepUs = std::min<long long>(stepUs, std::max(remainingMs(deadline), 1) * 1000LL);
        std::this_thread::sleep_for(std::chrono::microseconds(stepUs));
    }
}

bool PosixCommPlatform::writeAll(const PortState &state, int fd, const char *data, std::uint32_t count,
                                 std::uint32_t &bytesWritten, Clock::time_point deadline, bool hasDeadline)
{
    while (bytesWritten < count) {
        const ssize_t n = ::write(fd, data + bytesWritten, count - bytesWritten);
        if (n > 0) {
            bytesWritten += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // bytesWritten keeps what the system accepted before the failure.
        if (n < 0 && errno != EAGAIN)
            return failTransfer(errno, state.path);
        if (hasDeadline && remainingMs(deadline) == 0) {
            ::tcflush(fd, TCOFLUSH);
            return failWith(winerr::semTimeout);
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, hasDeadline ? remainingMs(deadline) : -1) > 0 && !(p.revents & POLLOUT)) {
            if (const char *gone = lineGoneText(p.revents))
                return failLost(0, state.path, gone);
        }
    }
    return true;
}

bool PosixCommPlatform::writeFile(CommHandle handle, const char *data, std::uint32_t count,
                                  std::uint32_t &bytesWritten, CommOverlapped &)
{
    bytesWritten = 0;
    PortState state;
    if (!lookup(handle, &state))
        return false;
    const int fd = static_cast<int>(handle);
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(state.timeouts.writeTotalTimeoutMultiplier) * count +
        state.timeouts.writeTotalTimeoutConstant;
    const bool hasDeadline = totalMs != 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    if (!writeAll(state, fd, data, count, bytesWritten, deadline, hasDeadline))
        return false;
    // Like the Windows driver, finish only when the bytes have left the
    // queue; what has not left by the time-out is discarded.
    std::uint32_t unsent = 0;
    if (!drainOutput(fd, deadline, hasDeadline, unsent)) {
        ::tcflush(fd, TCOFLUSH);
        bytesWritten -= std::min(unsent, bytesWritten);
        return failWith(winerr::semTimeout);
    }
    return true;
}

bool PosixCommPlatform::queueOutput(CommHandle handle, const char *data, std::uint32_t count,
                                    std::uint32_t &accepted)
{
    accepted = 0;
    PortState state;
    if (!lookup(handle, &state))
        return false;
    const int fd = static_cast<int>(handle);
    while (accepted < count) {
        const ssize_t n = ::write(fd, data + accepted, count - accepted);
        if (n > 0) {
            accepted += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return failTransfer(errno, state.path);
        break; // the queue is full: the caller comes back later
    }
    return true;
}

// TIOCOUTQ: the bytes in the driver's transmit buffer (a pseudo-terminal
// reports none, as it passes its bytes on at once).
bool PosixCommPlatform::outputQueued(CommHandle handle, std::uint32_t &bytes)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    int queuedOut = 0;
    if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &queuedOut) != 0)
        return failTransfer(errno, state.path);
    bytes = static_cast<std::uint32_t>(std::max(queuedOut, 0));
    return true;
}

bool PosixCommPlatform::writeFileNoWait(CommHandle handle, const char *data, std::uint32_t count,
                                        std::uint32_t &bytesWritten)
{
    bytesWritten = 0;
    PortState state;
    if (!lookup(handle, &state))
        return false;
    // The output queue takes far more than a chunk: waiting for room
    // is the exception, and bounded as a write that waits is.
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(state.timeouts.writeTotalTimeoutMultiplier) * count +
        state.timeouts.writeTotalTimeoutConstant;
    return writeAll(state, static_cast<int>(handle), data, count, bytesWritten,
                    Clock::now() + std::chrono::milliseconds(totalMs), totalMs != 0);
}

bool PosixCommPlatform::getOverlappedResult(CommHandle handle, CommOverlapped &overlapped, std::uint32_t &bytes,
                                            bool)
{
    // Transfers here complete before they return, so there is never
    // anything outstanding to ask about.
    if (!lookup(handle))
        return false;
    bytes = static_cast<std::uint32_t>(overlapped.internalHigh);
    return true;
}

bool PosixCommPlatform::closeHandle(CommHandle handle)
{
    PortState state;
    {
        std::lock_guard lock(mutex_);
        const auto it = ports_.find(static_cast<int>(handle));
        if (handle < 0 || it == ports_.end())
            return failWith(winerr::invalidHandle);
        state = it->second;
        ports_.erase(it);
    }
    const int fd = static_cast<int>(handle);
    // Leave the port as we found it, as terminal programs do: its settings,
    // its modem lines and (it belongs to the tty, not to this descriptor)
    // its exclusive mode, which only we had set.
    if (state.isTerminal)
        linuxtty::restoreLine(fd, state.saved);
    linuxtty::restoreRs485(fd, state.savedRs485);
    if (state.exclusiveIsOurs)
        ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    if (::close(fd) != 0 && errno != EINTR)
        return failErrno(errno);
    return true;
}

std::uint32_t PosixCommPlatform::formatMessage(std::uint32_t code, char *buffer, std::uint32_t size)
{
    return copyMessageText(windowsErrorText(code), buffer, size);
}

void PosixCommPlatform::waitForInput(CommHandle handle, int timeoutMs)
{
    if (!lookup(handle))
        return;
    // Returns at once on a hung-up line (poll reports it as ready); the
    // caller's next read then fails instead of polling a dead line.
    waitReadable(static_cast<int>(handle), timeoutMs);
}

void PosixCommPlatform::waitForAnyInput(const std::vector<CommHandle> &handles, std::chrono::microseconds timeout,
                                        std::vector<bool> &ready)
{
    // Handles this platform did not open are left out (never ready).
    std::vector<pollfd> fds;
    std::vector<std::size_t> of;
    fds.reserve(handles.size());
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (lookup(handles[i])) {
            fds.push_back({static_cast<int>(handles[i]), POLLIN, 0});
            of.push_back(i);
        }
    }
    const auto wait = std::max(timeout, std::chrono::microseconds(0));
    const timespec limit{static_cast<time_t>(wait.count() / 1000000), static_cast<long>(wait.count() % 1000000) * 1000};
    ready.assign(handles.size(), false);
    // A signal ends the wait early: the caller looks again anyway.
    if (::ppoll(fds.data(), fds.size(), &limit, nullptr) <= 0)
        return;
    // A hung-up line counts as ready: the read that follows reports it.
    for (std::size_t i = 0; i < fds.size(); ++i)
        ready[of[i]] = fds[i].revents != 0;
}

// Either end of a pseudo-terminal: a slave (majors 136 to 143), /dev/ptmx,
// a master of that kind (128 to 135), or one of the old BSD kind (major 2,
// its slave 3).
bool isPseudoTerminal(dev_t rdev)
{
    const unsigned major = ::major(rdev);
    return (major >= 128 && major <= 143) || (major == 5 && ::minor(rdev) == 2) || major == 2 || major == 3;
}

// A device without modem lines answers the line calls with ENOTTY (a
// pseudo-terminal, a plain file) or EINVAL (some USB gadgets).
bool PosixCommPlatform::failModemLines(int error, const PortState &state)
{
    if (error != ENOTTY && error != EINVAL)
        return failTransfer(error, state.path);
    SystemCause cause = causeOf(SystemCause::Kind::NoModemLines, error, state.path);
    struct stat st {};
    if (!state.isTerminal)
        cause.systemText = state.regularFile ? "a regular file" : "not a serial port";
    else if (::stat(state.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && isPseudoTerminal(st.st_rdev))
        cause.systemText = "a pseudo-terminal";
    return failWith(winerr::invalidFunction, std::move(cause));
}

bool PosixCommPlatform::getModemLines(CommHandle handle, std::uint32_t &lines)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    if (const int error = linuxtty::readModemLines(static_cast<int>(handle), lines))
        return failModemLines(error, state);
    return true;
}

bool PosixCommPlatform::setModemLines(CommHandle handle, std::uint32_t raise, std::uint32_t lower)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    if ((raise | lower) & ~modemOutputs(handle))
        return failWith(winerr::invalidParameter);
    if (const int error = linuxtty::changeModemLines(static_cast<int>(handle), raise, lower))
        return failModemLines(error, state);
    return true;
}

// Every driver takes OUT1 and OUT2, but only a UART's puts them anywhere.
std::uint32_t PosixCommPlatform::modemOutputs(CommHandle handle)
{
    PortState state;
    if (!lookup(handle, &state))
        return 0;
    return modemline::rts | modemline::dtr | (isPlainUart(state.path) ? modemline::out1 | modemline::out2 : 0);
}

bool PosixCommPlatform::waitModemChange(CommHandle handle, std::uint32_t &lines, int timeoutMs)
{
    PortState state;
    if (!lookup(handle, &state))
        return false;
    if (const int error = linuxtty::waitModemLines(static_cast<int>(handle), lines, timeoutMs))
        return failModemLines(error, state);
    return true;
}

} // namespace

CommPlatform &systemCommPlatform()
{
    static PosixCommPlatform platform;
    return platform;
}

} // namespace serial
