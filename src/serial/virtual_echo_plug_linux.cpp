#include "serial/virtual_echo_plug.h"

#include "serial/linux_device_worker.h"
#include "serial/linux_termios2.h"
#include "serial/uart_frame.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
constexpr double boardRateTolerance = 0.05;
constexpr std::uint32_t fallbackRate = 9600;
// The line drops this long after the last answer went out, so that a
// program polling the port can still read what came before.
constexpr auto hangUpGrace = std::chrono::milliseconds(50);
// While no program has the line open the master reports a hang-up without
// end; the plug then looks for a new opener at this pace.  A new opener's
// first bytes wait at most this long, which every run's first-byte time
// would show: keep it short.
constexpr int idlePollMs = 1;

// What a byte sent at the wrong rate turns into: deterministic, and never
// the byte itself.
char garbled(char byte)
{
    const auto b = static_cast<unsigned char>(byte);
    auto g = static_cast<unsigned char>((b * 0x9D + 0x3B) & 0xFF);
    if (g == b)
        g ^= 0x80;
    return static_cast<char>(g);
}

struct Scheduled {
    Clock::time_point due;
    char byte;
};

} // namespace

Dcb visibleFrame(unsigned cflag, unsigned iflag, std::uint8_t assumedDataBits)
{
    Dcb frame;
    frame.byteSize = assumedDataBits;
    if (cflag & PARENB) { // a driver that keeps the frame as set
        static const std::uint8_t sizes[] = {5, 6, 7, 8};
        const unsigned size = cflag & CSIZE;
        frame.byteSize = sizes[size == CS5 ? 0 : size == CS6 ? 1 : size == CS7 ? 2 : 3];
    } else if ((cflag & CSIZE) != CS8) {
        frame.byteSize = (cflag & CSIZE) == CS5 ? 5 : (cflag & CSIZE) == CS6 ? 6 : 7;
    }
    if ((cflag & PARENB) || (iflag & INPCK)) {
        if (cflag & CMSPAR)
            frame.parity = (cflag & PARODD) ? Dcb::MarkParity : Dcb::SpaceParity;
        else
            frame.parity = (cflag & PARODD) ? Dcb::OddParity : Dcb::EvenParity;
    }
    frame.stopBits = (cflag & CSTOPB) ? (frame.byteSize == 5 ? Dcb::One5StopBits : Dcb::TwoStopBits) : Dcb::OneStopBit;
    return frame;
}

struct VirtualEchoPlug::Impl {
    EchoPlugOptions options;
    std::string error;
    std::string path;
    int master = -1;
    int slave = -1; // only while the plug sets the line up: a wire holds nothing once its user lets go
    linuxtty::DeviceWorker worker; // stopped (stop()) before the descriptors close
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> sent{0};
    std::atomic<bool> hungUp{false};

    bool fail(const std::string &what)
    {
        error = what + ": " + std::strerror(errno);
        closeAll();
        return false;
    }

    void closeAll()
    {
        for (int *fd : {&master, &slave}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    std::uint32_t lineRate() const
    {
        // On the master side the termios calls reach the program's side.
        std::uint32_t rate = 0;
        if (linuxtty::getLineRate(master, rate) != 0 || rate == 0)
            return fallbackRate;
        return rate;
    }

    // The frame the program set, as far as the pair shows it.
    Dcb programFrame() const
    {
        termios tio{};
        const std::uint8_t assumed = options.boardFrame ? options.boardFrame->byteSize : 8;
        if (::tcgetattr(master, &tio) != 0)
            return visibleFrame(CS8, 0, assumed);
        return visibleFrame(tio.c_cflag, tio.c_iflag, assumed);
    }

    void run();
};

VirtualEchoPlug::VirtualEchoPlug(EchoPlugOptions options) : impl_(std::make_unique<Impl>())
{
    impl_->options = std::move(options);
}

VirtualEchoPlug::~VirtualEchoPlug() { stop(); }

bool VirtualEchoPlug::start()
{
    Impl &d = *impl_;
    if (d.worker.running()) {
        d.error = "The plug is already running.";
        return false;
    }
    d.error.clear();
    d.hungUp = false;
    d.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (d.master < 0)
        return d.fail("posix_openpt");
    ::fcntl(d.master, F_SETFD, FD_CLOEXEC);
    if (::grantpt(d.master) != 0)
        return d.fail("grantpt");
    if (::unlockpt(d.master) != 0)
        return d.fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(d.master, name, sizeof name) != 0)
        return d.fail("ptsname_r");
    d.path = name;
    d.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.slave < 0)
        return d.fail("open " + d.path);
    // Raw from the start: a program that has not configured the line yet
    // must not see its bytes echoed by the tty itself.
    termios tio{};
    if (::tcgetattr(d.slave, &tio) != 0)
        return d.fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&tio, B9600);
    if (::tcsetattr(d.slave, TCSANOW, &tio) != 0)
        return d.fail("tcsetattr");
    // The settings stay with the pair while the master lives; the slave
    // must go, or the plug could not tell when the program closes its side.
    ::close(d.slave);
    d.slave = -1;
    if (::fcntl(d.master, F_SETFL, ::fcntl(d.master, F_GETFL) | O_NONBLOCK) != 0)
        return d.fail("fcntl");
    if (!d.worker.start([&d] { d.run(); }, "plug", d.error)) {
        d.closeAll();
        return false;
    }
    return true;
}

void VirtualEchoPlug::stop()
{
    Impl &d = *impl_;
    d.worker.stop();
    d.closeAll();
}

const std::string &VirtualEchoPlug::errorText() const { return impl_->error; }
const std::string &VirtualEchoPlug::devicePath() const { return impl_->path; }
std::uint64_t VirtualEchoPlug::bytesReceived() const { return impl_->received; }
std::uint64_t VirtualEchoPlug::bytesSent() const { return impl_->sent; }
bool VirtualEchoPlug::hungUp() const { return impl_->hungUp; }

std::uint32_t VirtualEchoPlug::lineRate() const
{
    std::uint32_t rate = 0;
    const int master = impl_->master;
    if (master < 0 || linuxtty::getLineRate(master, rate) != 0)
        return 0;
    return rate;
}

void VirtualEchoPlug::Impl::run()
{
    std::deque<Scheduled> outgoing;
    auto receiveLineFree = Clock::now();
    auto sendLineFree = receiveLineFree;
    std::optional<Clock::time_point> hangUpDue;
    auto lastSentAt = Clock::now();
    if (options.hangUpAfter && *options.hangUpAfter == 0)
        hangUpDue = Clock::now();
    std::size_t position = 0;
    char buffer[4096];
    std::uint32_t lastRate = lineRate();
    bool programHasLine = false;

    // What is on the wire when its user lets go, or changes the rate, is
    // gone: a wire stores nothing for the next run.
    const auto dropPending = [&](int queues) {
        outgoing.clear();
        ::tcflush(master, queues);
        receiveLineFree = sendLineFree = Clock::now();
    };

    // The rate the line runs at now, dropping what went out at another.
    const auto followRate = [&] {
        const std::uint32_t rate = lineRate();
        if (rate != lastRate) {
            lastRate = rate;
            dropPending(TCOFLUSH); // what the program sends at the new rate stays
        }
        return rate;
    };

    for (;;) {
        followRate();
        const auto now = Clock::now();
        // Hand over every answer whose last bit has gone down the line.
        std::string due;
        while (!outgoing.empty() && outgoing.front().due <= now) {
            due += outgoing.front().byte;
            outgoing.pop_front();
        }
        std::size_t done = 0;
        while (done < due.size()) {
            const ssize_t n = ::write(master, due.data() + done, due.size() - done);
            if (n <= 0)
                break; // the program is not reading: keep the rest for later
            done += static_cast<std::size_t>(n);
        }
        sent += done;
        if (done > 0)
            lastSentAt = now;
        for (std::size_t i = due.size(); i > done; --i)
            outgoing.push_front({now, due[i - 1]});

        if (hangUpDue && outgoing.empty())
            hangUpDue = std::max(*hangUpDue, lastSentAt + hangUpGrace);
        if (hangUpDue && now >= *hangUpDue && outgoing.empty()) {
            hungUp = true;
            ::close(master);
            ::close(slave);
            master = slave = -1;
            return;
        }

        int timeoutMs = 200;
        auto wakeAt = outgoing.empty() ? std::optional<Clock::time_point>{} : outgoing.front().due;
        if (hangUpDue && (!wakeAt || *hangUpDue < *wakeAt))
            wakeAt = hangUpDue;
        if (wakeAt) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, done < due.size() ? 1 : 0, 200));
        }
        pollfd fds[2] = {{worker.wakeFd(), POLLIN, 0}, {master, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (!(fds[1].revents & POLLIN)) {
            if (fds[1].revents & POLLHUP) {
                // No program has the line open (any more).  What it sent
                // was all read (no POLLIN), so only the answers on their way
                // back are its own: the input queue may already hold the
                // first bytes of the next program, which opened and wrote
                // since the poll, and must not be touched.
                if (programHasLine)
                    dropPending(TCOFLUSH);
                programHasLine = false;
                pollfd wake{worker.wakeFd(), POLLIN, 0};
                if (::poll(&wake, 1, idlePollMs) > 0)
                    return;
            }
            continue;
        }
        programHasLine = true;

        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        // A line paced at a fixed rate runs at it whatever the program set.
        const std::uint32_t programRate = followRate();
        const std::uint32_t rate = options.pacedRate != 0 ? options.pacedRate : programRate;
        const auto arrivedAt = Clock::now();
        const Dcb frame = programFrame();
        const auto byteTime = options.lineTiming
            ? std::chrono::duration_cast<Clock::duration>(
                  std::chrono::duration<double>(double(bitsPerCharacter(frame)) / rate))
            : Clock::duration::zero();
        const bool wrongRate = options.boardRate != 0 &&
            std::abs(double(rate) - options.boardRate) > boardRateTolerance * options.boardRate;

        for (ssize_t i = 0; i < n; ++i, ++position) {
            // A byte is in once its stop bit has arrived; bytes queue on the line.
            const auto in = std::max(arrivedAt, receiveLineFree) + byteTime;
            receiveLineFree = in;
            if (options.hangUpAfter && position >= *options.hangUpAfter)
                continue; // the line is gone: nothing more reaches the board
            ++received;
            if (options.hangUpAfter && position + 1 == *options.hangUpAfter)
                hangUpDue = in;
            const std::size_t at = options.faultPeriod != 0 ? position % options.faultPeriod : position;
            if (options.silent || options.dropAt.count(at))
                continue;
            char byte = buffer[i];
            if (wrongRate)
                byte = garbled(byte);
            if (options.boardFrame) {
                // In at the board's UART, echoed, back in at the program's.
                const UartCharacter atBoard = passLine(static_cast<unsigned char>(byte), frame, *options.boardFrame);
                const UartCharacter back = passLine(atBoard.data, *options.boardFrame, frame);
                byte = static_cast<char>(back.sound() ? back.data : 0u);
            }
            if (options.lowerCase && byte >= 'A' && byte <= 'Z')
                byte = static_cast<char>(byte + 32);
            if (options.corruptAt.count(at))
                byte = static_cast<char>(byte ^ 0x5A);
            std::string answer(1, byte);
            if (const auto extra = options.addAt.find(at); extra != options.addAt.end())
                answer += extra->second;
            for (char c : answer) {
                const auto out = std::max(in, sendLineFree) + byteTime;
                sendLineFree = out;
                outgoing.push_back({out, c});
            }
        }
    }
}

} // namespace serial
