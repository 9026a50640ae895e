#pragma once
// Telnet framing (RFC 854) with the COM-PORT-OPTION of RFC 2217: what goes
// on the wire to a port server and how its answer splits into the serial
// line's data and the server's commands.  No sockets here: the codec works
// on bytes only, so that every rule of the framing can be checked alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace serial::telnet {

inline constexpr std::uint8_t iac = 255;
inline constexpr std::uint8_t dont = 254;
inline constexpr std::uint8_t doOption = 253;
inline constexpr std::uint8_t wont = 252;
inline constexpr std::uint8_t will = 251;
inline constexpr std::uint8_t sb = 250;
inline constexpr std::uint8_t se = 240;

inline constexpr std::uint8_t optBinary = 0;
inline constexpr std::uint8_t optEcho = 1;
inline constexpr std::uint8_t optSuppressGoAhead = 3;
inline constexpr std::uint8_t optComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers
// each with the same number plus serverOffset.
namespace cpc {
inline constexpr std::uint8_t signature = 0;
inline constexpr std::uint8_t setBaudRate = 1;
inline constexpr std::uint8_t setDataSize = 2;
inline constexpr std::uint8_t setParity = 3;
inline constexpr std::uint8_t setStopSize = 4;
inline constexpr std::uint8_t setControl = 5;
inline constexpr std::uint8_t notifyLineState = 6;
inline constexpr std::uint8_t notifyModemState = 7;
inline constexpr std::uint8_t flowControlSuspend = 8;
inline constexpr std::uint8_t flowControlResume = 9;
inline constexpr std::uint8_t setLineStateMask = 10;
inline constexpr std::uint8_t setModemStateMask = 11;
inline constexpr std::uint8_t purgeData = 12;
inline constexpr std::uint8_t serverOffset = 100;
} // namespace cpc

// Values of SET-PARITY, SET-STOPSIZE and SET-CONTROL (0 asks for the current one).
namespace value {
inline constexpr std::uint8_t parityNone = 1, parityOdd = 2, parityEven = 3, parityMark = 4, paritySpace = 5;
inline constexpr std::uint8_t stopOne = 1, stopTwo = 2, stopOneAndHalf = 3;
inline constexpr std::uint8_t flowNone = 1, flowXonXoff = 2, flowHardware = 3;
inline constexpr std::uint8_t dtrRequest = 7, dtrOn = 8, dtrOff = 9, rtsRequest = 10, rtsOn = 11, rtsOff = 12;
inline constexpr std::uint8_t purgeReceive = 1, purgeTransmit = 2, purgeBoth = 3;
} // namespace value

// Bits of NOTIFY-LINESTATE.
namespace linestate {
inline constexpr std::uint8_t overrun = 0x02, parity = 0x04, framing = 0x08, breakSeen = 0x10;
inline constexpr std::uint8_t errors = overrun | parity | framing | breakSeen;
} // namespace linestate

// Bits of NOTIFY-MODEMSTATE: the lines (the low four are their changes).
namespace modemstate {
inline constexpr std::uint8_t cts = 0x10, dsr = 0x20, ri = 0x40, dcd = 0x80;
} // namespace modemstate

// Appends data with every 0xFF doubled, as Telnet carries it.
void appendEscaped(std::string &out, std::string_view data);
// IAC verb option.
std::string negotiation(std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
std::string comPortCommand(std::uint8_t command, std::string_view value);
// A four-byte rate in network order, as SET-BAUDRATE carries it.
std::string rateValue(std::uint32_t rate);
std::uint32_t rateFrom(std::string_view value);

// Something the server said beside the data.
struct Event {
    enum class Kind { Negotiation, Subnegotiation };
    Kind kind = Kind::Negotiation;
    std::uint8_t verb = 0;   // Negotiation: will, wont, doOption, dont
    std::uint8_t option = 0;
    std::string payload;     // Subnegotiation: what follows the option, unescaped

    friend bool operator==(const Event &, const Event &) = default;
};

// Splits what the server sends into data and events; a sequence cut between
// two reads is carried over to the next.
class Decoder {
public:
    void feed(std::string_view bytes, std::string &data, std::vector<Event> &events);

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::string sub_;
};

} // namespace serial::telnet
