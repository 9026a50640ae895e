#pragma once
// A serial port on another machine, reached over TCP with the Telnet
// COM-PORT-OPTION of RFC 2217 (as ser2net serves it with its
// "telnet(rfc2217)" accepter).  The port is named "rfc2217://HOST:PORT".
//
// One object is one connection, used by one thread at a time.  Every wait
// is bounded and blocks in the system's poll; nothing spins.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/comm_error.h"
#include "serial/comm_platform.h"
#include "serial/telnet_codec.h"

namespace serial {

namespace net {
class TcpConnection;
}

struct RemoteAddress {
    std::string host;
    std::uint16_t port = 0;
    // "HOST:PORT", an IPv6 address in brackets.
    std::string text() const;
};

// True for a name of the network transport ("rfc2217://...", in any case).
bool isRfc2217Name(const std::string &name);
// The host and port of "rfc2217://HOST:PORT" ("[::1]" for an IPv6
// address); false when the name does not have that form.
bool parseRfc2217Name(const std::string &name, RemoteAddress &address);

// How long each step may take, in milliseconds.
struct Rfc2217Limits {
    int connectMs = 5000; // the TCP connection
    int optionMs = 3000;  // the server takes up COM-PORT-OPTION and answers a first query
    int answerMs = 3000;  // the answers to the line settings
    // After the line settings are answered: how much longer the answers to
    // SET-CONTROL (flow control, DTR, RTS) may take, at least; twice the
    // round trip when that is longer.  Servers that cannot set a line (a
    // pseudo-terminal behind ser2net has no modem lines) never answer.
    int controlGraceMs = 50;
};

// Numbers the transport fails with beside the serial ones (Windows' own,
// so that reports read the same as on Windows).
namespace winerr {
inline constexpr std::uint32_t notSupported = 50;       // ERROR_NOT_SUPPORTED: not an RFC 2217 server
inline constexpr std::uint32_t netTimedOut = 10060;     // WSAETIMEDOUT
inline constexpr std::uint32_t connRefused = 10061;     // WSAECONNREFUSED
inline constexpr std::uint32_t hostNotFound = 11001;    // WSAHOST_NOT_FOUND
} // namespace winerr

// Windows' text for the numbers above and the other Winsock numbers the
// transport reports; empty for any other number.
std::string networkErrorText(std::uint32_t code);

struct RemoteFailure {
    std::uint32_t error = 0;
    SystemCause cause;
};

class Rfc2217Port {
public:
    Rfc2217Port(std::string name, RemoteAddress address, Rfc2217Limits limits = {});
    ~Rfc2217Port();
    Rfc2217Port(const Rfc2217Port &) = delete;
    Rfc2217Port &operator=(const Rfc2217Port &) = delete;

    // Connects, has the server take up COM-PORT-OPTION, BINARY and
    // SUPPRESS-GO-AHEAD, and asks for the line's current settings; the time
    // that first answer took is the round trip.
    bool open(RemoteFailure &failure);
    // Sets the line as dcb says and checks every setting against the
    // server's answer: one it answers otherwise fails with 87, as a local
    // driver's read-back does.  A SET-CONTROL the server leaves unanswered
    // counts as not supported by that port, not as a failure.
    bool configure(const Dcb &dcb, RemoteFailure &failure);
    // The line settings as the server last confirmed them.
    const Dcb &state() const { return dcb_; }
    bool purge(bool receive, bool transmit, RemoteFailure &failure);

    // Takes in what the server has sent, waiting up to timeoutMs for the
    // connection to have something (0: not at all).  False once the
    // connection is gone and all it brought has been taken.
    bool poll(int timeoutMs, RemoteFailure &failure);
    std::size_t queued() const { return inbox_.size() - inboxAt_; }
    std::size_t take(char *buffer, std::size_t count);
    // Sends count bytes (0xFF doubled) within timeoutMs (-1: no limit),
    // holding back while the server has suspended the flow.  written tells
    // how many went out, also on failure.
    bool write(const char *data, std::size_t count, int timeoutMs, std::size_t &written, RemoteFailure &failure);

    // The line errors NOTIFY-LINESTATE reported since the last call (commflags).
    std::uint32_t takeLineErrors();
    const LineErrorCounts &lineErrorCounts() const { return counts_; }
    // NOTIFY-MODEMSTATE's last value (CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80).
    std::uint8_t modemState() const { return modemState_; }
    bool modemStateKnown() const { return modemStateKnown_; }
    // Whether the server confirmed DTR and RTS at the last configure.
    bool controlConfirmed() const { return controlConfirmed_; }

    // The modem lines (modemline bits): RTS and DTR as set, the inputs as the
    // server last notified them.  A server that never answered SET-CONTROL
    // for DTR or RTS (ser2net serving a pseudo-terminal) has no lines to
    // offer: the calls fail with 1 and Kind::NoModemLines, its cause naming
    // the server.
    bool modemLines(std::uint32_t &lines, RemoteFailure &failure);
    // Sets DTR and RTS (the only outputs RFC 2217 reaches) and checks each
    // against the server's answer.
    bool setModemLines(std::uint32_t raise, std::uint32_t lower, RemoteFailure &failure);
    // Waits up to timeoutMs for a NOTIFY-MODEMSTATE whose inputs differ from
    // those in lines; lines: the lines then, changed or not.
    bool waitModemChange(std::uint32_t &lines, int timeoutMs, RemoteFailure &failure);
    double roundTripMs() const { return roundTripMs_; }
    const std::string &name() const { return name_; }

private:
    using Clock = std::chrono::steady_clock;
    bool send(const std::string &bytes, Clock::time_point deadline, bool limited, std::size_t *dataSent,
              RemoteFailure &failure);
    bool sendNow(const std::string &bytes, RemoteFailure &failure);
    void handle(const telnet::Event &event);
    void answer(std::uint8_t verb, std::uint8_t option);
    void flushOutbox();
    // Takes in until done() or timeoutMs has passed or the connection is gone.
    template <class Done> void pumpUntil(Done done, int timeoutMs);
    bool pumpOnce(int timeoutMs);
    bool answered(std::uint8_t command) const;
    int controlAnswer(std::uint8_t low, std::uint8_t high) const;
    bool modemLinesOffered(RemoteFailure &failure);
    std::uint32_t currentLines() const;
    RemoteFailure lost() const;
    RemoteFailure closedEarly() const;
    RemoteFailure fault(SystemCause::Kind kind, std::uint32_t error, const std::string &text) const;
    void noteInboxSize();

    std::string name_;
    RemoteAddress address_;
    Rfc2217Limits limits_;
    std::unique_ptr<net::TcpConnection> connection_;
    telnet::Decoder decoder_;
    std::string inbox_;
    std::size_t inboxAt_ = 0;
    bool closed_ = false;
    std::string closedText_;
    std::string earlyText_; // what a server that closed at once had said first
    std::string outbox_;    // answers to the server, sent when no send is under way
    bool sending_ = false;
    bool configured_ = false;

    bool comPortAccepted_ = false;
    bool comPortRefused_ = false;
    bool sentWill_[256] = {};
    bool sentDo_[256] = {};
    bool serverSuspended_ = false;
    bool weSuspended_ = false;

    std::vector<std::string> answers_ = std::vector<std::string>(16); // by command; empty: none yet
    std::vector<bool> haveAnswer_ = std::vector<bool>(16);
    std::vector<std::uint8_t> controlAnswers_;
    std::uint32_t lineErrors_ = 0;
    LineErrorCounts counts_;
    std::uint8_t modemState_ = 0;
    bool modemStateKnown_ = false;
    bool controlConfirmed_ = false;
    bool controlKnown_ = false;    // whether DTR and RTS were asked for yet
    bool controlAnswered_ = false; // the server answered DTR or RTS at all
    std::uint32_t outputs_ = 0;    // RTS and DTR as the server confirmed them
    double roundTripMs_ = 0.0;
    Dcb dcb_;
};

} // namespace serial
