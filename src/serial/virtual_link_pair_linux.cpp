#include "serial/virtual_link_pair.h"

#include "serial/linux_device_worker.h"
#include "serial/linux_termios2.h"
#include "serial/uart_frame.h"
#include "serial/virtual_echo_plug.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t fallbackRate = 9600;
// While a side is not open its master reports a hang-up without end; the
// link looks for an opener at this pace.
constexpr int idlePollMs = 1;

struct Scheduled {
    Clock::time_point due;
    char byte;
};

// One port of the link: the master of its pseudo-terminal and the bytes on
// their way to it.
struct Side {
    int master = -1;
    std::string path;
    std::deque<Scheduled> incoming;
    Clock::time_point lineFree{};  // when the sender's line is free again
    std::size_t sentCount = 0;     // bytes the program sent on this side
    bool open = false;             // a program has this side open
};

} // namespace

struct VirtualLinkPair::Impl {
    LinkPairOptions options;
    std::string error;
    Side sides[2];
    linuxtty::DeviceWorker worker; // stopped (stop()) before the descriptors close
    std::atomic<std::uint64_t> carried{0};
    std::atomic<std::uint64_t> taken{0};

    bool fail(const std::string &what)
    {
        error = what + ": " + std::strerror(errno);
        closeAll();
        return false;
    }

    void closeAll()
    {
        for (int *fd : {&sides[0].master, &sides[1].master}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    bool openSide(Side &side)
    {
        side.master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (side.master < 0)
            return fail("posix_openpt");
        ::fcntl(side.master, F_SETFD, FD_CLOEXEC);
        if (::grantpt(side.master) != 0 || ::unlockpt(side.master) != 0)
            return fail("unlockpt");
        char name[128] = {};
        if (::ptsname_r(side.master, name, sizeof name) != 0)
            return fail("ptsname_r");
        side.path = name;
        // Raw from the start, as the plug's line; the settings stay with
        // the pair while the master lives.
        const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            return fail("open " + side.path);
        termios tio{};
        if (::tcgetattr(slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            tio.c_cflag |= CLOCAL | CREAD;
            ::cfsetspeed(&tio, B9600);
            ::tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
        return ::fcntl(side.master, F_SETFL, ::fcntl(side.master, F_GETFL) | O_NONBLOCK) == 0 || fail("fcntl");
    }

    // The time one character takes at the rate and frame the sender set.
    Clock::duration characterTime(const Side &sender) const
    {
        if (!options.lineTiming)
            return Clock::duration::zero();
        std::uint32_t rate = 0;
        if (linuxtty::getLineRate(sender.master, rate) != 0 || rate == 0)
            rate = fallbackRate;
        termios tio{};
        const Dcb frame = ::tcgetattr(sender.master, &tio) == 0 ? visibleFrame(tio.c_cflag, tio.c_iflag, 8)
                                                                : visibleFrame(CS8, 0, 8);
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(bitsPerCharacter(frame)) / rate));
    }

    // Whether a program holds the side now (a side nobody holds reports a
    // hang-up at once).
    static bool heldNow(const Side &side)
    {
        pollfd one{side.master, POLLIN, 0};
        ::poll(&one, 1, 0);
        return !(one.revents & POLLHUP) || (one.revents & POLLIN);
    }

    void carry(int from, const char *bytes, std::size_t count)
    {
        Side &sender = sides[from];
        Side &receiver = options.crossed ? sender : sides[1 - from];
        receiver.open = heldNow(receiver);
        taken += count;
        const bool dead = from == 0 ? options.deadAToB : options.deadBToA;
        const auto byteTime = characterTime(sender);
        const auto arrivedAt = Clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t position = sender.sentCount++;
            const std::size_t at = options.faultPeriod != 0 ? position % options.faultPeriod : position;
            std::string out;
            if (!options.dropAt.count(at))
                out += options.corruptAt.count(at) ? static_cast<char>(bytes[i] ^ 0x5A) : bytes[i];
            if (const auto extra = options.addAt.find(at); extra != options.addAt.end())
                out += extra->second;
            for (const char c : out) {
                // A byte is on the far side once its stop bit has gone down the line.
                const auto due = std::max(arrivedAt, sender.lineFree) + byteTime;
                sender.lineFree = due;
                if (!dead && receiver.open) // a wire stores nothing for a port nobody holds
                    receiver.incoming.push_back({due, c});
            }
        }
    }

    void deliver(Side &side, Clock::time_point now)
    {
        std::string due;
        while (!side.incoming.empty() && side.incoming.front().due <= now) {
            due += side.incoming.front().byte;
            side.incoming.pop_front();
        }
        std::size_t done = 0;
        while (done < due.size()) {
            const ssize_t n = ::write(side.master, due.data() + done, due.size() - done);
            if (n <= 0)
                break; // not read yet: keep the rest
            done += static_cast<std::size_t>(n);
        }
        carried += done;
        for (std::size_t i = due.size(); i > done; --i)
            side.incoming.push_front({now, due[i - 1]});
    }

    void run()
    {
        char buffer[4096];
        for (;;) {
            const auto now = Clock::now();
            for (Side &side : sides) {
                if (side.open)
                    deliver(side, now);
            }
            int timeoutMs = 200;
            for (const Side &side : sides) {
                if (!side.open) {
                    timeoutMs = std::min(timeoutMs, idlePollMs);
                } else if (!side.incoming.empty()) {
                    const auto wait =
                        std::chrono::ceil<std::chrono::milliseconds>(side.incoming.front().due - now).count();
                    timeoutMs = std::min(timeoutMs, static_cast<int>(std::clamp<long long>(wait, 1, 200)));
                }
            }
            for (Side &side : sides) {
                const bool open = heldNow(side);
                if (side.open && !open)
                    side.incoming.clear(); // what was on the wire to a port let go of is gone
                side.open = open;
            }
            pollfd fds[3] = {{worker.wakeFd(), POLLIN, 0}, {sides[0].master, POLLIN, 0}, {sides[1].master, POLLIN, 0}};
            if (::poll(fds, 3, timeoutMs) < 0 && errno != EINTR)
                return;
            if (fds[0].revents)
                return;
            bool readAny = false;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i + 1].revents & POLLIN))
                    continue;
                const ssize_t n = ::read(sides[i].master, buffer, sizeof buffer);
                if (n > 0) {
                    carry(i, buffer, static_cast<std::size_t>(n));
                    readAny = true;
                }
            }
            // A side nobody holds reports a hang-up without end: rest a
            // moment instead of spinning on it.
            if (!readAny && ((fds[1].revents | fds[2].revents) & POLLHUP)) {
                pollfd wake{worker.wakeFd(), POLLIN, 0};
                if (::poll(&wake, 1, idlePollMs) > 0)
                    return;
            }
        }
    }
};

VirtualLinkPair::VirtualLinkPair(LinkPairOptions options) : impl_(std::make_unique<Impl>())
{
    impl_->options = std::move(options);
}

VirtualLinkPair::~VirtualLinkPair() { stop(); }

bool VirtualLinkPair::start()
{
    Impl &d = *impl_;
    if (d.worker.running()) {
        d.error = "The link is already running.";
        return false;
    }
    d.error.clear();
    if (!d.openSide(d.sides[0]) || !d.openSide(d.sides[1]))
        return false;
    if (!d.worker.start([&d] { d.run(); }, "link", d.error)) {
        d.closeAll();
        return false;
    }
    return true;
}

void VirtualLinkPair::stop()
{
    Impl &d = *impl_;
    d.worker.stop();
    d.closeAll();
}

const std::string &VirtualLinkPair::errorText() const { return impl_->error; }
const std::string &VirtualLinkPair::pathA() const { return impl_->sides[0].path; }
const std::string &VirtualLinkPair::pathB() const { return impl_->sides[1].path; }
std::uint64_t VirtualLinkPair::bytesTaken() const { return impl_->taken; }
std::uint64_t VirtualLinkPair::bytesCarried() const { return impl_->carried; }

} // namespace serial
