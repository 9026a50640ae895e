#include "serial/rfc2217_port.h"

#include "serial/net_socket.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace serial {

namespace {

using namespace telnet;

constexpr char kScheme[] = "rfc2217://";
constexpr std::size_t kSchemeLength = sizeof kScheme - 1;
// A local driver may round a rate; a server's answer further away than
// this is a rate the port does not run at.
constexpr double kRateTolerance = 0.01;
// Flow control towards the server: ask it to hold back while this much
// is waiting to be read, and to go on once it has been taken.
constexpr std::size_t kSuspendAbove = 256 * 1024;
constexpr std::size_t kResumeBelow = 16 * 1024;

std::string seconds(int ms)
{
    const int whole = ms / 1000;
    return ms % 1000 == 0 ? std::to_string(whole) + " s" : std::to_string(ms) + " ms";
}

std::uint8_t parityValue(std::uint8_t parity)
{
    switch (parity) {
    case Dcb::OddParity: return value::parityOdd;
    case Dcb::EvenParity: return value::parityEven;
    case Dcb::MarkParity: return value::parityMark;
    case Dcb::SpaceParity: return value::paritySpace;
    default: return value::parityNone;
    }
}

std::uint8_t parityFrom(std::uint8_t answer)
{
    switch (answer) {
    case value::parityOdd: return Dcb::OddParity;
    case value::parityEven: return Dcb::EvenParity;
    case value::parityMark: return Dcb::MarkParity;
    case value::paritySpace: return Dcb::SpaceParity;
    default: return Dcb::NoParity;
    }
}

std::uint8_t stopValue(std::uint8_t stopBits)
{
    switch (stopBits) {
    case Dcb::TwoStopBits: return value::stopTwo;
    case Dcb::One5StopBits: return value::stopOneAndHalf;
    default: return value::stopOne;
    }
}

std::uint8_t stopFrom(std::uint8_t answer)
{
    switch (answer) {
    case value::stopTwo: return Dcb::TwoStopBits;
    case value::stopOneAndHalf: return Dcb::One5StopBits;
    default: return Dcb::OneStopBit;
    }
}

std::string one(std::uint8_t byte) { return std::string(1, static_cast<char>(byte)); }

const char *commandName(std::uint8_t command)
{
    switch (command) {
    case cpc::setBaudRate: return "SET-BAUDRATE";
    case cpc::setDataSize: return "SET-DATASIZE";
    case cpc::setParity: return "SET-PARITY";
    case cpc::setStopSize: return "SET-STOPSIZE";
    default: return "SET-CONTROL";
    }
}

// The printable start of what a server said in plain text (a banner, "Port
// already in use"), for the message that names it.
std::string printable(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            if (!out.empty())
                break;
            continue;
        }
        if (std::isprint(static_cast<unsigned char>(c)))
            out += c;
        if (out.size() >= 80)
            break;
    }
    return out;
}

} // namespace

std::string RemoteAddress::text() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool isRfc2217Name(const std::string &name)
{
    if (name.size() < kSchemeLength)
        return false;
    return std::equal(name.begin(), name.begin() + kSchemeLength, kScheme,
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

bool parseRfc2217Name(const std::string &name, RemoteAddress &address)
{
    if (!isRfc2217Name(name))
        return false;
    const std::string rest = name.substr(kSchemeLength);
    std::string host;
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon)
            return false;
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    const bool hostOk = !host.empty() && std::none_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isspace(c) || c == '/' || c == '?' || c == '@';
    });
    if (!hostOk || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    const long number = std::strtol(port.c_str(), nullptr, 10);
    if (number < 1 || number > 65535)
        return false;
    address.host = host;
    address.port = static_cast<std::uint16_t>(number);
    return true;
}

std::string networkErrorText(std::uint32_t code)
{
    switch (code) {
    case winerr::notSupported: return "The request is not supported.\r\n";
    case 10051: return "A socket operation was attempted to an unreachable network.\r\n";
    case 10054: return "An existing connection was forcibly closed by the remote host.\r\n";
    case winerr::netTimedOut:
        return "A connection attempt failed because the connected party did not properly respond after a period of "
               "time, or established connection failed because connected host has failed to respond.\r\n";
    case winerr::connRefused:
        return "No connection could be made because the target machine actively refused it.\r\n";
    case 10065: return "A socket operation was attempted to an unreachable host.\r\n";
    case winerr::hostNotFound: return "No such host is known.\r\n";
    default: return {};
    }
}

Rfc2217Port::Rfc2217Port(std::string name, RemoteAddress address, Rfc2217Limits limits)
    : name_(std::move(name)), address_(std::move(address)), limits_(limits)
{
}

Rfc2217Port::~Rfc2217Port() = default;

RemoteFailure Rfc2217Port::fault(SystemCause::Kind kind, std::uint32_t error, const std::string &text) const
{
    RemoteFailure failure;
    failure.error = error;
    failure.cause.kind = kind;
    failure.cause.systemText = text;
    failure.cause.devicePath = address_.text();
    return failure;
}

// A connection that went away mid-run ends transfers as a pulled-out
// adapter does (5); the cause names the server.
RemoteFailure Rfc2217Port::lost() const
{
    RemoteFailure failure;
    failure.error = serial::winerr::accessDenied;
    failure.cause.kind = SystemCause::Kind::Lost;
    failure.cause.devicePath = name_;
    failure.cause.systemText = "The connection to " + address_.text() + " was lost: " + closedText_;
    return failure;
}

// ser2net closes a connection at once when it cannot open its device (held
// by another client, gone), often after a line of text saying why.
RemoteFailure Rfc2217Port::closedEarly() const
{
    const std::string said = printable(earlyText_);
    return fault(SystemCause::Kind::NoAnswer, serial::winerr::deviceNotConnected,
                 "the server closed the connection" + (said.empty() ? std::string() : " saying \"" + said + "\""));
}

bool Rfc2217Port::open(RemoteFailure &failure)
{
    net::NetError error;
    connection_ = net::TcpConnection::connect(address_.host, static_cast<std::uint16_t>(address_.port),
                                              limits_.connectMs, error);
    if (!connection_) {
        if (error.kind == net::NetError::Kind::HostNotFound) {
            failure = fault(SystemCause::Kind::HostNotFound, winerr::hostNotFound, error.text);
        } else {
            std::string text = error.text;
            if (error.kind == net::NetError::Kind::TimedOut)
                text += " (no answer within " + seconds(limits_.connectMs) + ")";
            failure = fault(SystemCause::Kind::Unreachable, error.windowsError, text);
        }
        return false;
    }

    // The client offers COM-PORT-OPTION; the server takes it up with DO.
    // Nothing we send can come back as that DO, also from a raw port that
    // echoes every byte to a plug.
    std::string offer = negotiation(will, optComPort) + negotiation(will, optBinary) +
        negotiation(doOption, optBinary) + negotiation(will, optSuppressGoAhead) +
        negotiation(doOption, optSuppressGoAhead);
    sentWill_[optComPort] = sentWill_[optBinary] = sentWill_[optSuppressGoAhead] = true;
    sentDo_[optBinary] = sentDo_[optSuppressGoAhead] = true;
    if (!sendNow(offer, failure))
        return false;
    pumpUntil([this] { return comPortAccepted_ || comPortRefused_; }, limits_.optionMs);
    if (!comPortAccepted_) {
        std::string why;
        if (comPortRefused_)
            why = "the server refused the Telnet COM-PORT-OPTION";
        else if (closed_)
            why = "the server closed the connection" +
                (printable(earlyText_).empty() ? std::string() : " saying \"" + printable(earlyText_) + "\"");
        else
            why = "no answer to the Telnet COM-PORT-OPTION within " + seconds(limits_.optionMs);
        failure = fault(SystemCause::Kind::NotRfc2217, winerr::notSupported, why);
        return false;
    }

    // The line's current settings: the first answer's time is the round trip.
    for (const std::uint8_t command : {cpc::setBaudRate, cpc::setDataSize, cpc::setParity, cpc::setStopSize})
        haveAnswer_[command] = false;
    const std::string ask = comPortCommand(cpc::setLineStateMask, one(linestate::errors)) +
        comPortCommand(cpc::setModemStateMask, one(0xFF)) + comPortCommand(cpc::setBaudRate, rateValue(0)) +
        comPortCommand(cpc::setDataSize, one(0)) + comPortCommand(cpc::setParity, one(0)) +
        comPortCommand(cpc::setStopSize, one(0));
    const Clock::time_point asked = Clock::now();
    if (!sendNow(ask, failure))
        return false;
    pumpUntil([this] { return answered(cpc::setBaudRate); }, limits_.optionMs);
    roundTripMs_ = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
    if (!answered(cpc::setBaudRate)) {
        if (closed_) {
            failure = closedEarly();
            return false;
        }
        failure = fault(SystemCause::Kind::NoAnswer, serial::winerr::semTimeout,
                        "no answer to SET-BAUDRATE within " + seconds(limits_.optionMs));
        return false;
    }
    pumpUntil([this] { return answered(cpc::setDataSize) && answered(cpc::setParity) && answered(cpc::setStopSize); },
              limits_.answerMs);
    dcb_.baudRate = rateFrom(answers_[cpc::setBaudRate]);
    dcb_.byteSize = answered(cpc::setDataSize) ? static_cast<std::uint8_t>(answers_[cpc::setDataSize][0]) : 8;
    dcb_.parity = answered(cpc::setParity) ? parityFrom(static_cast<std::uint8_t>(answers_[cpc::setParity][0]))
                                           : std::uint8_t{Dcb::NoParity};
    dcb_.stopBits = answered(cpc::setStopSize) ? stopFrom(static_cast<std::uint8_t>(answers_[cpc::setStopSize][0]))
                                               : std::uint8_t{Dcb::OneStopBit};
    dcb_.dtrControl = Dcb::LineEnable;
    dcb_.rtsControl = Dcb::LineEnable;
    return true;
}

bool Rfc2217Port::configure(const Dcb &dcb, RemoteFailure &failure)
{
    if (dcb.baudRate == 0 || dcb.byteSize < 5 || dcb.byteSize > 8 || dcb.parity > Dcb::SpaceParity ||
        dcb.stopBits > Dcb::TwoStopBits) {
        failure = {serial::winerr::invalidParameter, {}};
        return false;
    }
    const std::uint8_t flow = (dcb.outxCtsFlow || dcb.rtsControl == Dcb::LineHandshake) ? value::flowHardware
        : (dcb.outX || dcb.inX)                                                         ? value::flowXonXoff
                                                                                        : value::flowNone;
    const std::uint8_t dtr = dcb.dtrControl == Dcb::LineDisable ? value::dtrOff : value::dtrOn;
    const bool rtsSet = dcb.rtsControl != Dcb::LineHandshake;
    const std::uint8_t rts = dcb.rtsControl == Dcb::LineDisable ? value::rtsOff : value::rtsOn;

    for (const std::uint8_t command : {cpc::setBaudRate, cpc::setDataSize, cpc::setParity, cpc::setStopSize})
        haveAnswer_[command] = false;
    controlAnswers_.clear();
    // SET-CONTROL goes first: a server that answers it does so before it
    // answers the line settings that follow.
    std::string request = comPortCommand(cpc::setControl, one(flow)) + comPortCommand(cpc::setControl, one(dtr));
    if (rtsSet)
        request += comPortCommand(cpc::setControl, one(rts));
    request += comPortCommand(cpc::setBaudRate, rateValue(dcb.baudRate)) +
        comPortCommand(cpc::setDataSize, one(dcb.byteSize)) +
        comPortCommand(cpc::setParity, one(parityValue(dcb.parity))) +
        comPortCommand(cpc::setStopSize, one(stopValue(dcb.stopBits)));
    if (!sendNow(request, failure))
        return false;
    const auto allAnswered = [this] {
        return answered(cpc::setBaudRate) && answered(cpc::setDataSize) && answered(cpc::setParity) &&
            answered(cpc::setStopSize);
    };
    pumpUntil(allAnswered, limits_.answerMs);
    if (!allAnswered()) {
        if (closed_) {
            failure = closedEarly();
            return false;
        }
        std::uint8_t missing = cpc::setBaudRate;
        for (const std::uint8_t command : {cpc::setBaudRate, cpc::setDataSize, cpc::setParity, cpc::setStopSize}) {
            if (!answered(command)) {
                missing = command;
                break;
            }
        }
        failure = fault(SystemCause::Kind::NoAnswer, serial::winerr::semTimeout,
                        std::string("no answer to ") + commandName(missing) + " within " + seconds(limits_.answerMs));
        return false;
    }

    const std::uint32_t rate = rateFrom(answers_[cpc::setBaudRate]);
    const bool rateOk = std::abs(static_cast<double>(rate) - dcb.baudRate) <= kRateTolerance * dcb.baudRate;
    const bool frameOk = static_cast<std::uint8_t>(answers_[cpc::setDataSize][0]) == dcb.byteSize &&
        static_cast<std::uint8_t>(answers_[cpc::setParity][0]) == parityValue(dcb.parity) &&
        static_cast<std::uint8_t>(answers_[cpc::setStopSize][0]) == stopValue(dcb.stopBits);

    // SET-CONTROL: what is answered must be what was asked; what is not
    // answered in time the port does not support.
    const auto controlIn = [this](std::uint8_t low, std::uint8_t high) { return controlAnswer(low, high); };
    const int grace = std::max(limits_.controlGraceMs, static_cast<int>(std::ceil(2 * roundTripMs_)));
    pumpUntil([&] { return controlIn(1, 3) >= 0 && controlIn(7, 9) >= 0 && (!rtsSet || controlIn(10, 12) >= 0); },
              grace);
    const int flowAnswer = controlIn(1, 3);
    const bool flowOk = flowAnswer < 0 || flowAnswer == flow;
    controlConfirmed_ = controlIn(7, 9) == dtr && (!rtsSet || controlIn(10, 12) == rts);
    controlKnown_ = true;
    controlAnswered_ = controlIn(7, 9) >= 0 || controlIn(10, 12) >= 0;
    // Under hardware flow control the server drives RTS itself: taken as on.
    outputs_ = (controlIn(7, 9) == value::dtrOn ? modemline::dtr : 0u) |
        (!rtsSet || controlIn(10, 12) == value::rtsOn ? modemline::rts : 0u);

    if (!rateOk || !frameOk || !flowOk) {
        // Windows keeps the old state after a refused one; ask for it back.
        if (dcb_.baudRate != 0 && dcb_.baudRate != dcb.baudRate) {
            RemoteFailure ignored;
            sendNow(comPortCommand(cpc::setBaudRate, rateValue(dcb_.baudRate)), ignored);
        }
        RemoteFailure refused;
        refused.error = serial::winerr::invalidParameter;
        refused.cause.devicePath = address_.text();
        refused.cause.systemText = !rateOk
            ? "the server answered SET-BAUDRATE " + std::to_string(dcb.baudRate) + " with " + std::to_string(rate)
            : "the server answered the line settings otherwise";
        failure = refused;
        return false;
    }
    dcb_ = dcb;
    configured_ = true;
    return true;
}

bool Rfc2217Port::purge(bool receive, bool transmit, RemoteFailure &failure)
{
    if (receive) {
        RemoteFailure ignored;
        poll(0, ignored);
        inbox_.clear();
        inboxAt_ = 0;
        noteInboxSize();
    }
    const std::uint8_t which = receive && transmit ? value::purgeBoth
        : receive                                  ? value::purgeReceive
                                                   : value::purgeTransmit;
    if (!receive && !transmit)
        return true;
    return sendNow(comPortCommand(cpc::purgeData, one(which)), failure);
}

// The server's last answer to SET-CONTROL within low..high (flow control
// 1..3, DTR 7..9, RTS 10..12); -1 for none.
int Rfc2217Port::controlAnswer(std::uint8_t low, std::uint8_t high) const
{
    for (auto it = controlAnswers_.rbegin(); it != controlAnswers_.rend(); ++it) {
        if (*it >= low && *it <= high)
            return *it;
    }
    return -1;
}

// Whether the server drives this port's modem lines.  It has answered DTR
// or RTS when the line was set; a port that was never set is asked for its
// DTR once.  A server that stays silent (ser2net serving a pseudo-terminal)
// has none to offer, as a pseudo-terminal has none.
bool Rfc2217Port::modemLinesOffered(RemoteFailure &failure)
{
    if (!controlKnown_) {
        controlAnswers_.clear();
        if (!sendNow(comPortCommand(cpc::setControl, one(value::dtrRequest)), failure))
            return false;
        const int grace = std::max(limits_.controlGraceMs, static_cast<int>(std::ceil(2 * roundTripMs_)));
        pumpUntil([this] { return controlAnswer(7, 9) >= 0; }, grace);
        controlKnown_ = true;
        controlAnswered_ = controlAnswer(7, 9) >= 0;
        outputs_ = (controlAnswer(7, 9) == value::dtrOn ? modemline::dtr : 0u) | modemline::rts;
    }
    if (closed_) {
        failure = lost();
        return false;
    }
    if (!controlAnswered_) {
        failure = fault(SystemCause::Kind::NoModemLines, serial::winerr::invalidFunction,
                        "the port server at " + address_.text() + " does not set DTR and RTS: no answer to SET-CONTROL");
        return false;
    }
    if (!modemStateKnown_) {
        // Servers report the inputs when the mask is set and whenever they
        // change, some only as they poll the device; some also answer a
        // NOTIFY-MODEMSTATE of the client's.
        if (!sendNow(comPortCommand(cpc::notifyModemState, {}), failure))
            return false;
        pumpUntil([this] { return modemStateKnown_; }, limits_.answerMs);
        if (closed_) {
            failure = lost();
            return false;
        }
        if (!modemStateKnown_) {
            failure = fault(SystemCause::Kind::NoModemLines, serial::winerr::invalidFunction,
                            "the port server at " + address_.text() + " reported no modem state within " +
                                seconds(limits_.answerMs));
            return false;
        }
    }
    return true;
}

// NOTIFY-MODEMSTATE's bits in the layer's order (RFC 2217 puts DCD above RI).
std::uint32_t Rfc2217Port::currentLines() const
{
    std::uint32_t lines = outputs_;
    if (modemState_ & modemstate::cts)
        lines |= modemline::cts;
    if (modemState_ & modemstate::dsr)
        lines |= modemline::dsr;
    if (modemState_ & modemstate::dcd)
        lines |= modemline::dcd;
    if (modemState_ & modemstate::ri)
        lines |= modemline::ri;
    return lines;
}

bool Rfc2217Port::modemLines(std::uint32_t &lines, RemoteFailure &failure)
{
    if (!modemLinesOffered(failure))
        return false;
    pumpOnce(0);
    lines = currentLines();
    return true;
}

bool Rfc2217Port::setModemLines(std::uint32_t raise, std::uint32_t lower, RemoteFailure &failure)
{
    if ((raise | lower) & ~(modemline::dtr | modemline::rts)) {
        failure = {serial::winerr::invalidParameter, {}};
        return false;
    }
    if (!modemLinesOffered(failure))
        return false;
    struct Change {
        std::uint32_t line;
        std::uint8_t value, low, high;
        const char *name;
    };
    std::vector<Change> changes;
    for (const std::uint32_t line : {modemline::dtr, modemline::rts}) {
        if (!((raise | lower) & line))
            continue;
        const bool on = (raise & line) && !(lower & line);
        if (line == modemline::dtr)
            changes.push_back({line, on ? value::dtrOn : value::dtrOff, 7, 9, on ? "DTR ON" : "DTR OFF"});
        else
            changes.push_back({line, on ? value::rtsOn : value::rtsOff, 10, 12, on ? "RTS ON" : "RTS OFF"});
    }
    controlAnswers_.clear();
    std::string request;
    for (const Change &c : changes)
        request += comPortCommand(cpc::setControl, one(c.value));
    if (!sendNow(request, failure))
        return false;
    const auto allAnswered = [&] {
        return std::all_of(changes.begin(), changes.end(),
                           [&](const Change &c) { return controlAnswer(c.low, c.high) >= 0; });
    };
    pumpUntil(allAnswered, limits_.answerMs);
    for (const Change &c : changes) {
        const int answer = controlAnswer(c.low, c.high);
        if (answer < 0) {
            failure = closed_ ? lost()
                              : fault(SystemCause::Kind::NoAnswer, serial::winerr::semTimeout,
                                      std::string("no answer to SET-CONTROL ") + c.name + " within " +
                                          seconds(limits_.answerMs));
            return false;
        }
        if (answer != c.value) {
            failure = fault(SystemCause::Kind::None, serial::winerr::genFailure,
                            std::string("the port server at ") + address_.text() + " answered SET-CONTROL " +
                                c.name + " with " + std::to_string(answer));
            return false;
        }
        outputs_ = c.value == value::dtrOn || c.value == value::rtsOn ? outputs_ | c.line : outputs_ & ~c.line;
    }
    return true;
}

bool Rfc2217Port::waitModemChange(std::uint32_t &lines, int timeoutMs, RemoteFailure &failure)
{
    if (!modemLinesOffered(failure))
        return false;
    const std::uint32_t seen = lines & modemline::inputs;
    pumpUntil([&] { return (currentLines() & modemline::inputs) != seen; }, std::max(timeoutMs, 0));
    if (closed_) {
        failure = lost();
        return false;
    }
    lines = currentLines();
    return true;
}

bool Rfc2217Port::answered(std::uint8_t command) const
{
    return command < haveAnswer_.size() && haveAnswer_[command] && !answers_[command].empty();
}

// Answers wait in the outbox until no send is under way: bytes of their
// own must never land inside a sequence that is half sent.
void Rfc2217Port::answer(std::uint8_t verb, std::uint8_t option)
{
    outbox_ += negotiation(verb, option);
}

void Rfc2217Port::flushOutbox()
{
    if (sending_ || outbox_.empty() || closed_)
        return;
    std::string bytes;
    bytes.swap(outbox_);
    RemoteFailure ignored;
    sendNow(bytes, ignored);
}

void Rfc2217Port::handle(const Event &event)
{
    if (event.kind == Event::Kind::Negotiation) {
        const std::uint8_t option = event.option;
        const bool ours = option == optBinary || option == optSuppressGoAhead || option == optComPort;
        switch (event.verb) {
        case doOption:
            if (option == optComPort)
                comPortAccepted_ = true;
            if (ours && !sentWill_[option]) {
                sentWill_[option] = true;
                answer(will, option);
            } else if (!ours && !sentWill_[option]) {
                sentWill_[option] = true; // refused once, not again
                answer(wont, option);
            }
            break;
        case dont:
            if (option == optComPort)
                comPortRefused_ = true;
            break;
        case will:
            // Not ECHO above all: an echo made by the server instead of the
            // far end of the line would pass a test the line failed.
            if (option == optBinary || option == optSuppressGoAhead) {
                if (!sentDo_[option]) {
                    sentDo_[option] = true;
                    answer(doOption, option);
                }
            } else if (!sentDo_[option]) {
                sentDo_[option] = true;
                answer(dont, option);
            }
            break;
        default: // WONT: nothing to answer for an option we did not want
            break;
        }
        return;
    }
    if (event.option != optComPort || event.payload.empty())
        return;
    const auto code = static_cast<std::uint8_t>(event.payload[0]);
    const std::string value = event.payload.substr(1);
    if (code < cpc::serverOffset)
        return;
    const std::uint8_t command = code - cpc::serverOffset;
    switch (command) {
    case cpc::setControl:
        if (!value.empty())
            controlAnswers_.push_back(static_cast<std::uint8_t>(value[0]));
        break;
    case cpc::notifyLineState:
        if (!value.empty()) {
            const auto bits = static_cast<std::uint8_t>(value[0]);
            if (bits & linestate::overrun) {
                lineErrors_ |= commflags::overrun;
                ++counts_.overrun;
            }
            if (bits & linestate::parity) {
                lineErrors_ |= commflags::rxParity;
                ++counts_.parity;
            }
            if (bits & linestate::framing) {
                lineErrors_ |= commflags::frame;
                ++counts_.framing;
            }
            if (bits & linestate::breakSeen) {
                lineErrors_ |= commflags::breakSeen;
                ++counts_.breaks;
            }
        }
        break;
    case cpc::notifyModemState:
        if (!value.empty()) {
            modemState_ = static_cast<std::uint8_t>(value[0]);
            modemStateKnown_ = true;
        }
        break;
    case cpc::flowControlSuspend: serverSuspended_ = true; break;
    case cpc::flowControlResume: serverSuspended_ = false; break;
    default:
        if (command < answers_.size() && !value.empty()) {
            answers_[command] = value;
            haveAnswer_[command] = true;
        }
        break;
    }
}

bool Rfc2217Port::pumpOnce(int timeoutMs)
{
    if (closed_ || !connection_)
        return false;
    if (timeoutMs != 0 && !(connection_->wait(false, timeoutMs) & net::TcpConnection::Readable))
        return true;
    char buffer[4096];
    std::string data;
    std::vector<Event> events;
    for (;;) {
        net::NetError error;
        const long n = connection_->receive(buffer, sizeof buffer, error);
        if (n == 0)
            break;
        if (n < 0) {
            closed_ = true;
            closedText_ = error.text;
            break;
        }
        data.clear();
        events.clear();
        decoder_.feed(std::string_view(buffer, static_cast<std::size_t>(n)), data, events);
        if (!configured_ && earlyText_.size() < 256)
            earlyText_ += data;
        if (inboxAt_ > 0 && inboxAt_ == inbox_.size()) {
            inbox_.clear();
            inboxAt_ = 0;
        }
        inbox_ += data;
        for (const Event &event : events)
            handle(event);
        if (static_cast<std::size_t>(n) < sizeof buffer)
            break;
    }
    noteInboxSize();
    return !closed_;
}

template <class Done> void Rfc2217Port::pumpUntil(Done done, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && !closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pumpOnce(static_cast<int>(left));
    }
}

bool Rfc2217Port::poll(int timeoutMs, RemoteFailure &failure)
{
    if (queued() == 0 && !closed_) {
        if (timeoutMs > 0)
            pumpUntil([this] { return queued() > 0; }, timeoutMs);
        else
            pumpOnce(0);
    } else if (!closed_) {
        pumpOnce(0);
    }
    if (closed_ && queued() == 0) {
        failure = lost();
        return false;
    }
    return true;
}

void Rfc2217Port::noteInboxSize()
{
    if (!weSuspended_ && queued() > kSuspendAbove) {
        weSuspended_ = true;
        outbox_ += comPortCommand(cpc::flowControlSuspend, {});
    } else if (weSuspended_ && queued() < kResumeBelow) {
        weSuspended_ = false;
        outbox_ += comPortCommand(cpc::flowControlResume, {});
    }
    flushOutbox();
}

std::size_t Rfc2217Port::take(char *buffer, std::size_t count)
{
    const std::size_t n = std::min(count, queued());
    std::copy_n(inbox_.data() + inboxAt_, n, buffer);
    inboxAt_ += n;
    if (inboxAt_ == inbox_.size()) {
        inbox_.clear();
        inboxAt_ = 0;
    }
    noteInboxSize();
    return n;
}

std::uint32_t Rfc2217Port::takeLineErrors()
{
    const std::uint32_t errors = lineErrors_;
    lineErrors_ = 0;
    return errors;
}

bool Rfc2217Port::sendNow(const std::string &bytes, RemoteFailure &failure)
{
    return send(bytes, Clock::now() + std::chrono::milliseconds(limits_.answerMs), true, nullptr, failure);
}

bool Rfc2217Port::send(const std::string &bytes, Clock::time_point deadline, bool limited, std::size_t *dataSent,
                       RemoteFailure &failure)
{
    const bool outer = !sending_;
    sending_ = true;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (closed_ || !connection_) {
            failure = lost();
            break;
        }
        net::NetError error;
        const long n = connection_->send(bytes.data() + at, bytes.size() - at, error);
        if (n < 0) {
            closed_ = true;
            closedText_ = error.text;
            failure = lost();
            break;
        }
        at += static_cast<std::size_t>(n);
        if (at == bytes.size())
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (limited && left <= 0) {
            failure = {serial::winerr::semTimeout, {}};
            break;
        }
        if (connection_->wait(true, limited ? static_cast<int>(left) : -1) & net::TcpConnection::Readable)
            pumpOnce(0); // the server's answers and notifications keep coming meanwhile
    }
    if (dataSent) {
        // Count the data bytes behind the escaped ones that went out.
        std::size_t count = 0;
        for (std::size_t i = 0; i < at; ++i) {
            if (static_cast<std::uint8_t>(bytes[i]) == iac)
                ++i;
            if (i < at)
                ++count;
        }
        *dataSent = count;
    }
    if (outer) {
        sending_ = false;
        flushOutbox();
    }
    return at == bytes.size();
}

bool Rfc2217Port::write(const char *data, std::size_t count, int timeoutMs, std::size_t &written,
                        RemoteFailure &failure)
{
    written = 0;
    const bool limited = timeoutMs >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    // A connection the server has closed takes no more: say so now, not
    // after the bytes vanished into it.
    pumpOnce(0);
    if (closed_) {
        failure = lost();
        return false;
    }
    while (serverSuspended_ && !closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (limited && left <= 0) {
            failure = {serial::winerr::semTimeout, {}};
            return false;
        }
        pumpOnce(limited ? static_cast<int>(left) : -1);
    }
    std::string escaped;
    appendEscaped(escaped, std::string_view(data, count));
    return send(escaped, deadline, limited, &written, failure);
}

} // namespace serial
