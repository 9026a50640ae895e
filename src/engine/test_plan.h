#pragma once
// What a test sends and how the line is set: the pattern, the frame, the
// rate and the ports.  A plan is a value; the engine runs it and gives a
// result back.  The defaults are the classic echo test: "ABCDEFGHIJ" 100
// times in 10-byte chunks, 8 data bits, no parity, 1 stop bit, no flow
// control, sent and received on the same port.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/baud_selection.h"

namespace echotest {

// The bytes sent, in the chunks they are handed to the system in.
struct Pattern {
    std::string name = "spec";       // how records name it ("spec", "0x55", "random:42", ...)
    std::string bytes;                // one char per byte
    int chunkSize = 10;

    std::size_t length() const { return bytes.size(); }
    friend bool operator==(const Pattern &, const Pattern &) = default;

    // "ABCDEFGHIJ" 100 times, 10 bytes a chunk.
    static Pattern classic()
    {
        Pattern pattern;
        pattern.bytes.reserve(1000);
        for (int i = 0; i < 100; ++i)
            pattern.bytes += "ABCDEFGHIJ";
        return pattern;
    }
};

// How each character travels on the line.
struct Frame {
    enum class Parity : char { None = 'N', Even = 'E', Odd = 'O', Mark = 'M', Space = 'S' };
    enum class StopBits { One, OneAndHalf, Two };
    enum class Flow { None, RtsCts, XonXoff };

    int dataBits = 8;                 // 5..8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    Flow flow = Flow::None;

    friend bool operator==(const Frame &, const Frame &) = default;

    // Bit times one character takes on the line: start, data, parity, stop
    // (1.5 stop bits round up, as the line time must not be short).
    int bitsPerCharacter() const
    {
        const int stop = stopBits == StopBits::One ? 1 : 2;
        return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stop;
    }
    // "8N1", "7E1", "8N1.5", "7O2".
    std::string name() const
    {
        std::string text = std::to_string(dataBits);
        text += static_cast<char>(parity);
        text += stopBits == StopBits::One ? "1" : stopBits == StopBits::OneAndHalf ? "1.5" : "2";
        return text;
    }
    // The largest byte value the data bits carry.
    unsigned maxByte() const { return (1u << dataBits) - 1u; }
};

// Reads "8N1", "7E1", "8O1", "7O2", "5N1", "8N1.5" (case-insensitive
// parity letter): data bits 5..8, parity N/E/O/M/S, stop bits 1, 1.5 or 2.
// The flow control is left as none.  nullopt for anything else.
std::optional<Frame> parseFrame(std::string_view text);

// A port a plan names: the serial layer's table slot and the device it
// opens there.
struct PlanPort {
    int16_t port = 1;       // the serial layer's table slot, 1..4
    std::string device;     // the device opened; empty: "COM" + port
    std::string portName;   // how messages name the port; empty: "COM" + port

    std::string deviceName() const { return device.empty() ? "COM" + std::to_string(port) : device; }
    std::string shownName() const { return portName.empty() ? "COM" + std::to_string(port) : portName; }
    friend bool operator==(const PlanPort &, const PlanPort &) = default;
};

// Everything a run needs to know about what it sends, how, and where.
struct TestPlan {
    Pattern pattern = Pattern::classic();
    Frame frame;
    BaudReading baud = readBaudText("9600");
    PlanPort sendPort;
    // Where the echo comes back; none: on the port it was sent on.
    std::optional<PlanPort> listenPort;

    const PlanPort &listensOn() const { return listenPort ? *listenPort : sendPort; }
    int32_t patternLength() const { return static_cast<int32_t>(pattern.length()); }
    // The time the whole pattern takes on the line at the rate, in this
    // frame (MinTransmitTime for the classic plan).
    int32_t lineTimeMs() const { return minTransmitTime(baud.value, patternLength(), frame.bitsPerCharacter()); }
    // The device-control text the port is opened with:
    // "baud=9600 parity=N data=8 stop=1".
    std::string modeText() const;
    // The answer that passes: the pattern, or its lower-case form.
    std::string expectedEcho(bool lowerCase) const;
};

} // namespace echotest
