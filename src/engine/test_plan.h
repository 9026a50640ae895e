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

} // namespace echotest
