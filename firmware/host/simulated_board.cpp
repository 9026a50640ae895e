// rebounce-simboard: an AVR echo board simulated by libsimavr, its USART wired
// to a pseudo-terminal, so that the echo test can run against real firmware
// without hardware.
//
//   rebounce-simboard [--mcu NAME] [--clock HZ] [--frame-bits N] [--max-seconds N] FIRMWARE.elf
//
// --frame-bits sets the bit times per character on the simulated line,
// 10 by default (8N1: start, 8 data, stop).  simavr itself counts a parity
// bit even when parity is off, 11 for 8N1, and on the ATmega16 reads the
// frame size from the register it shares with UBRRH; 0 keeps simavr's count.
//
// The first line on standard output is the path of the terminal to open
// (/dev/pts/N); diagnostics go to standard error.  SIGTERM, SIGINT or SIGHUP
// stop the board cleanly, exit status 0.  Exit status 2 means wrong usage or
// a firmware that cannot be loaded, 3 a simulated part that crashed.
//
// Built only where libsimavr exists (Linux): it is a test and bench fixture,
// not part of the tool.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

extern "C" {
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_irq.h>
}

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

struct Options
{
    std::string mcu = "atmega328p";
    std::uint32_t clock = 14745600;
    double maxSeconds = 0; // 0: run until a signal
    int frameBits = 10;    // 0: simavr's own count
    std::string firmware;
};

// Bytes that came from the terminal but that the simulated receiver has not
// taken yet.  The PC side blocks in its own write once the terminal's buffer
// is full, so this never needs to hold more than one read's worth.
constexpr std::size_t kInputHoldLimit = 4096;
// What the board sent but nobody read; beyond this the oldest is lost, as a
// PC's receive buffer would lose it.
constexpr std::size_t kOutputHoldLimit = 1 << 20;
// The simulation may fall this far behind the wall clock before the lag is
// written off: catching up a longer stall would send a burst faster than
// the line could carry it.
constexpr double kMaxLagSeconds = 0.05;
constexpr long kSliceNanoseconds = 250'000;

struct Board
{
    avr_t *avr = nullptr;
    avr_irq_t *uartInput = nullptr;
    avr_uart_t *uart = nullptr;
    int frameBits = 10;
    avr_cycle_count_t correctedCyclesPerByte = 0;
    int master = -1;
    int slave = -1; // kept open: without it the master reports EIO whenever the PC side closes
    bool receiverFull = false;
    std::deque<std::uint8_t> toBoard;
    std::vector<std::uint8_t> fromBoard;
    std::size_t fromBoardSent = 0;
};

void logToStderr(avr_t *, const int level, const char *format, va_list ap)
{
    // simavr prints its chatter on standard output, which is reserved for the
    // terminal path.
    if (level <= LOG_WARNING)
        std::vfprintf(stderr, format, ap);
}

void noSleep(avr_t *, avr_cycle_count_t) {}

void onOutput(avr_irq_t *, std::uint32_t value, void *param)
{
    auto *board = static_cast<Board *>(param);
    if (board->fromBoard.size() - board->fromBoardSent >= kOutputHoldLimit)
        return;
    board->fromBoard.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void onReceiverFull(avr_irq_t *, std::uint32_t, void *param) { static_cast<Board *>(param)->receiverFull = true; }

void onReceiverReady(avr_irq_t *, std::uint32_t, void *param) { static_cast<Board *>(param)->receiverFull = false; }

// Hands waiting bytes to the simulated receiver until its queue says full;
// the byte that fills the queue is still taken (the XOFF comes after it).
void feedReceiver(Board &board)
{
    while (!board.receiverFull && !board.toBoard.empty()) {
        const std::uint8_t byte = board.toBoard.front();
        board.toBoard.pop_front();
        avr_raise_irq(board.uartInput, byte);
    }
}

bool openTerminal(Board &board, std::string &path)
{
    board.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (board.master < 0 || ::grantpt(board.master) != 0 || ::unlockpt(board.master) != 0)
        return false;
    char name[128] = {};
    if (::ptsname_r(board.master, name, sizeof name) != 0)
        return false;
    path = name;
    board.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (board.slave < 0)
        return false;
    // Raw from the start: a terminal in its default mode would echo the PC's
    // bytes back by itself and turn CR into LF, faking or spoiling a PASS.
    termios tio{};
    if (::tcgetattr(board.slave, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    if (::tcsetattr(board.slave, TCSANOW, &tio) != 0)
        return false;
    const int flags = ::fcntl(board.master, F_GETFL);
    return flags >= 0 && ::fcntl(board.master, F_SETFL, flags | O_NONBLOCK) == 0;
}

void readTerminal(Board &board)
{
    std::uint8_t buffer[512];
    while (board.toBoard.size() < kInputHoldLimit) {
        const std::size_t room = std::min(sizeof buffer, kInputHoldLimit - board.toBoard.size());
        const ssize_t n = ::read(board.master, buffer, room);
        if (n <= 0)
            return; // EAGAIN, or EIO while nobody has the terminal open
        board.toBoard.insert(board.toBoard.end(), buffer, buffer + n);
    }
}

void writeTerminal(Board &board)
{
    while (board.fromBoardSent < board.fromBoard.size()) {
        const ssize_t n = ::write(board.master, board.fromBoard.data() + board.fromBoardSent,
                                  board.fromBoard.size() - board.fromBoardSent);
        if (n <= 0)
            break;
        board.fromBoardSent += static_cast<std::size_t>(n);
    }
    if (board.fromBoardSent == board.fromBoard.size()) {
        board.fromBoard.clear();
        board.fromBoardSent = 0;
    }
}

void waitForTerminal(const Board &board)
{
    pollfd fd{board.master, POLLIN, 0};
    if (board.fromBoardSent < board.fromBoard.size())
        fd.events |= POLLOUT;
    if (board.toBoard.size() >= kInputHoldLimit)
        fd.events &= ~POLLIN;
    const timespec slice{0, kSliceNanoseconds};
    ::ppoll(&fd, 1, &slice, nullptr);
}

bool parseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--mcu" && hasValue)
            options.mcu = argv[++i];
        else if (arg == "--clock" && hasValue)
            options.clock = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--frame-bits" && hasValue)
            options.frameBits = std::atoi(argv[++i]);
        else if (arg == "--max-seconds" && hasValue)
            options.maxSeconds = std::strtod(argv[++i], nullptr);
        else if (!arg.starts_with("--") && options.firmware.empty())
            options.firmware = arg;
        else
            return false;
    }
    return !options.firmware.empty() && options.clock > 0 && options.frameBits >= 0 && options.frameBits <= 13;
}

avr_t *makeBoard(const Options &options)
{
    auto firmware = std::make_unique<elf_firmware_t>();
    std::memset(firmware.get(), 0, sizeof *firmware);
    if (elf_read_firmware(options.firmware.c_str(), firmware.get()) != 0) {
        std::fprintf(stderr, "rebounce-simboard: cannot load %s\n", options.firmware.c_str());
        return nullptr;
    }
    std::snprintf(firmware->mmcu, sizeof firmware->mmcu, "%s", options.mcu.c_str());
    firmware->frequency = options.clock;
    avr_t *avr = avr_make_mcu_by_name(firmware->mmcu);
    if (!avr) {
        std::fprintf(stderr, "rebounce-simboard: simavr does not know the part %s\n", firmware->mmcu);
        return nullptr;
    }
    avr_init(avr);
    avr->log = LOG_WARNING;
    avr_load_firmware(avr, firmware.get());
    avr->frequency = options.clock;
    // simavr's own idle handling sleeps in real time inside avr_run(), which
    // would stall the terminal; this loop does its own pacing instead.
    avr->sleep = noSleep;
    return avr;
}

avr_uart_t *findUart(avr_t *avr)
{
    for (avr_io_t *io = avr->io_port; io; io = io->next)
        if (io->irq_ioctl_get == AVR_IOCTL_UART_GETIRQ('0'))
            return reinterpret_cast<avr_uart_t *>(io); // avr_uart_t begins with its avr_io_t
    return nullptr;
}

// simavr recomputes its character time whenever the firmware writes the
// baud-rate register; this puts the true frame length back afterwards.
void correctCharacterTime(Board &board)
{
    avr_uart_t *uart = board.uart;
    if (board.frameBits == 0 || !uart || uart->cycles_per_byte == board.correctedCyclesPerByte)
        return;
    const unsigned ubrr = avr_regbit_get(board.avr, uart->ubrrl) | (avr_regbit_get(board.avr, uart->ubrrh) << 8);
    const avr_cycle_count_t cyclesPerBit = (ubrr + 1) * (avr_regbit_get(board.avr, uart->u2x) ? 8u : 16u);
    uart->cycles_per_byte = cyclesPerBit * static_cast<avr_cycle_count_t>(board.frameBits);
    board.correctedCyclesPerByte = uart->cycles_per_byte;
}

bool wireUsart(Board &board)
{
    board.uart = findUart(board.avr);
    // A console-line mode and a sleep on a polled empty receiver are both on by
    // default; either delays the first echo by hundreds of milliseconds.
    std::uint32_t flags = 0;
    avr_ioctl(board.avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
    flags &= ~static_cast<std::uint32_t>(AVR_UART_FLAG_POLL_SLEEP | AVR_UART_FLAG_STDIO);
    avr_ioctl(board.avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);

    board.uartInput = avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    avr_irq_t *output = avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT);
    avr_irq_t *xon = avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON);
    avr_irq_t *xoff = avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF);
    if (!board.uartInput || !output || !xon || !xoff)
        return false;
    avr_irq_register_notify(output, onOutput, &board);
    avr_irq_register_notify(xon, onReceiverReady, &board);
    avr_irq_register_notify(xoff, onReceiverFull, &board);
    return true;
}

// Runs the part in step with the wall clock until a stop is asked for.
// Returns false when the simulated part crashed or stopped by itself.
bool run(Board &board, const Options &options)
{
    const auto start = Clock::now();
    auto reference = start;
    avr_cycle_count_t referenceCycle = board.avr->cycle;
    const double clock = options.clock;
    while (!stopRequested) {
        const auto now = Clock::now();
        if (options.maxSeconds > 0 && std::chrono::duration<double>(now - start).count() > options.maxSeconds) {
            std::fprintf(stderr, "rebounce-simboard: stopping after %g s\n", options.maxSeconds);
            return true;
        }
        readTerminal(board);
        feedReceiver(board);

        const double wall = std::chrono::duration<double>(now - reference).count();
        auto target = referenceCycle + static_cast<avr_cycle_count_t>(wall * clock);
        const auto lagLimit = static_cast<avr_cycle_count_t>(kMaxLagSeconds * clock);
        if (target > board.avr->cycle + lagLimit) {
            referenceCycle = board.avr->cycle;
            reference = now;
            target = referenceCycle;
        }
        while (board.avr->cycle < target) {
            const int state = avr_run(board.avr);
            if (state == cpu_Done || state == cpu_Crashed) {
                std::fprintf(stderr, "rebounce-simboard: the simulated part stopped (state %d)\n", state);
                return false;
            }
            correctCharacterTime(board);
            if (!board.receiverFull && !board.toBoard.empty())
                feedReceiver(board);
        }
        writeTerminal(board);
        waitForTerminal(board);
    }
    return true;
}

} // namespace

// For sanitizer builds: libsimavr keeps its part tables and I/O modules for
// the life of the process.
extern "C" const char *__lsan_default_suppressions() { return "leak:libsimavr\n"; }

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: rebounce-simboard [--mcu NAME] [--clock HZ] [--frame-bits N] [--max-seconds N] FIRMWARE.elf\n");
        return 2;
    }
    // A test that dies must not leave its board running.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    struct sigaction action {};
    action.sa_handler = requestStop;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    avr_global_logger_set(logToStderr);
    Board board;
    board.frameBits = options.frameBits;
    board.avr = makeBoard(options);
    if (!board.avr)
        return 2;
    if (!wireUsart(board)) {
        std::fprintf(stderr, "rebounce-simboard: %s has no USART 0\n", options.mcu.c_str());
        return 2;
    }
    std::string path;
    if (!openTerminal(board, path)) {
        std::fprintf(stderr, "rebounce-simboard: no pseudo-terminal: %s\n", std::strerror(errno));
        return 2;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "rebounce-simboard: %s at %u Hz running %s on %s\n", options.mcu.c_str(),
                 options.clock, options.firmware.c_str(), path.c_str());

    const bool clean = run(board, options);
    writeTerminal(board);
    avr_terminate(board.avr);
    std::free(board.avr);
    ::close(board.slave);
    ::close(board.master);
    return clean ? 0 : 3;
}
