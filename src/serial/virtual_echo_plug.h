#pragma once
// A virtual echo plug: a pseudo-terminal whose far side answers like a
// looped-back port or an echo board on a real line.  The program under test
// opens devicePath() as its serial port; the plug reads the rate the
// program set on the pair and spends ten bit times per byte in each
// direction, so that transfers take as long as on a wire.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "serial/comm_platform.h"

namespace serial {

struct EchoPlugOptions {
    bool lowerCase = false;              // answer 'A'..'Z' as 'a'..'z', like some echo boards
    bool silent = false;                 // answer nothing at all
    std::set<std::size_t> dropAt;        // 0-based positions of received bytes not answered
    std::set<std::size_t> corruptAt;     // ... answered with other bits
    std::map<std::size_t, std::string> addAt; // extra bytes answered after the byte at a position
    std::optional<std::size_t> hangUpAfter;   // hang the line up once this many bytes came in
    // Rate the "board" runs at; bytes sent at a rate more than 5% away arrive
    // garbled.  0: the plug follows whatever rate the program set.
    std::uint32_t boardRate = 0;
    bool lineTiming = true;              // false: answer at once, ignoring the rate
    // Pace the line at this rate whatever rate the program set (a driver or
    // an adapter that runs another rate than asked).  0: follow the program.
    std::uint32_t pacedRate = 0;
    // Fault positions repeat with this period (1000: every run of the echo
    // test meets them); 0: positions count from the plug's start.
    std::size_t faultPeriod = 0;
    // The frame the "board" runs (byteSize, parity, stopBits of the Dcb):
    // characters the program sends in another frame reach it as its UART
    // takes them (other bits, parity and framing errors), and its answers
    // reach the program likewise; a character the program's side would
    // flag arrives as 0x00, as a driver checking parity passes it on.
    // None: the board takes any frame.
    std::optional<Dcb> boardFrame;
};

// The frame a program set on a line, as the far side of a pseudo-terminal
// sees it from the line's termios: the stop bits, the parity (a
// pseudo-terminal's driver drops the parity switch but keeps the input
// parity check and the odd/mark sense), and the data bits where the driver
// keeps them; else assumedDataBits.
Dcb visibleFrame(unsigned cflag, unsigned iflag, std::uint8_t assumedDataBits);

class VirtualEchoPlug {
public:
    explicit VirtualEchoPlug(EchoPlugOptions options = {});
    ~VirtualEchoPlug(); // stops the plug
    VirtualEchoPlug(const VirtualEchoPlug &) = delete;
    VirtualEchoPlug &operator=(const VirtualEchoPlug &) = delete;

    // Creates the pair and starts answering.  False with errorText() when
    // this platform or machine cannot provide one.
    bool start();
    // Stops answering and closes the pair (joins the plug's thread).
    void stop();

    const std::string &errorText() const;
    // The program's side, e.g. /dev/pts/7.
    const std::string &devicePath() const;
    std::uint64_t bytesReceived() const;
    std::uint64_t bytesSent() const;
    bool hungUp() const;
    // The rate the line is set to now, as the program (or a port server
    // between) set it on the pair; 0 when there is no pair.
    std::uint32_t lineRate() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace serial
