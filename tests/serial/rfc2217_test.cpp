// Ports on other machines over RFC 2217: the Telnet framing on its own,
// then the transport and the run against a small port server of the test's
// own that does what ser2net will not (answer another rate, say nothing,
// stall, drop the connection, report a line error).  test_remote_ports.cpp
// runs the same against a real ser2net.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/line_test.h"
#include "engine/timer_clock.h"
#include "serial/modcomm.h"
#include "serial/port_lines.h"
#include "serial/rfc2217_platform.h"
#include "serial/telnet_codec.h"
#include "support/echo_suite.h"

namespace serial {
namespace {

using namespace std::chrono_literals;
using namespace telnet;
using Clock = std::chrono::steady_clock;
using echosuite::EchoSuite;

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

// --- The framing -----------------------------------------------------------

struct DecodeCase {
    const char *name;
    std::vector<std::string> chunks; // fed one after another
    std::string data;
    std::vector<Event> events;
};

class TelnetDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(TelnetDecode, SplitsDataFromCommands)
{
    Decoder decoder;
    std::string data;
    std::vector<Event> events;
    for (const std::string &chunk : GetParam().chunks)
        decoder.feed(chunk, data, events);
    EXPECT_EQ(GetParam().data, data);
    EXPECT_EQ(GetParam().events, events);
}

const Event baudAnswer{Event::Kind::Subnegotiation, 0, optComPort, bytes({101, 0, 0, 0xFF, 0})};

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetDecode,
    ::testing::Values(
        DecodeCase{"PlainData", {"ABC"}, "ABC", {}},
        DecodeCase{"DoubledFFIsOneDataByte", {bytes({'A', 0xFF, 0xFF, 'B'})}, bytes({'A', 0xFF, 'B'}), {}},
        DecodeCase{"DoubledFFCutBetweenReads", {bytes({'A', 0xFF}), bytes({0xFF, 'B'})}, bytes({'A', 0xFF, 'B'}), {}},
        DecodeCase{"Negotiation", {bytes({'x', 0xFF, 253, 44, 'y'})}, "xy", {{Event::Kind::Negotiation, 253, 44, {}}}},
        DecodeCase{"NegotiationCutAfterVerb", {bytes({0xFF, 251}), bytes({0})}, "", {{Event::Kind::Negotiation, 251, 0, {}}}},
        // 65280 baud is 00 00 FF 00: the FF inside the value is doubled.
        DecodeCase{"SubnegotiationWithDoubledFF",
                   {bytes({0xFF, 250, 44, 101, 0, 0, 0xFF, 0xFF, 0, 0xFF, 240, 'z'})}, "z", {baudAnswer}},
        DecodeCase{"SubnegotiationCutAnywhere",
                   {bytes({0xFF, 250, 44, 101, 0, 0, 0xFF}), bytes({0xFF, 0, 0xFF}), bytes({240})}, "", {baudAnswer}},
        DecodeCase{"OtherCommandsVanish", {bytes({'a', 0xFF, 241, 'b', 0xFF, 249})}, "ab", {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TelnetEncode, FFIsDoubledInDataAndInValues)
{
    std::string out;
    appendEscaped(out, bytes({1, 0xFF, 2}));
    EXPECT_EQ(bytes({1, 0xFF, 0xFF, 2}), out);
    EXPECT_EQ(bytes({0xFF, 250, 44, 1, 0, 0, 0xFF, 0xFF, 0, 0xFF, 240}), comPortCommand(cpc::setBaudRate, rateValue(65280)));
    EXPECT_EQ(115200u, rateFrom(rateValue(115200)));
}

TEST(Rfc2217Name, HostAndPortOrRefused)
{
    struct Case {
        const char *name;
        bool ok;
        const char *host;
        int port;
    };
    const Case cases[] = {
        {"rfc2217://rack7.lab:2217", true, "rack7.lab", 2217},
        {"RFC2217://10.0.0.5:4001", true, "10.0.0.5", 4001},
        {"rfc2217://[::1]:7000", true, "::1", 7000},
        {"rfc2217://host", false, "", 0},
        {"rfc2217://host:0", false, "", 0},
        {"rfc2217://host:65536", false, "", 0},
        {"rfc2217://host:12ab", false, "", 0},
        {"rfc2217://:2217", false, "", 0},
        {"rfc2217://a:b:2217", false, "", 0},
        {"rfc2217://host:2217/extra", false, "", 0},
        {"/dev/ttyUSB0", false, "", 0},
    };
    for (const Case &c : cases) {
        RemoteAddress address;
        EXPECT_EQ(c.ok, parseRfc2217Name(c.name, address)) << c.name;
        if (c.ok) {
            EXPECT_EQ(c.host, address.host) << c.name;
            EXPECT_EQ(c.port, address.port) << c.name;
        }
    }
}

// --- A port server of the test's own ---------------------------------------

struct Script {
    bool speaks = true;          // false: a raw TCP port that never answers
    bool refusesOption = false;  // DONT COM-PORT-OPTION
    std::uint32_t rateAnswer = 0; // every SET-BAUDRATE answered with this; 0: as asked
    bool echoes = true;          // false: a stalled server, it takes the data and answers nothing
    long closeAfter = -1;        // drops the connection once this many data bytes came
    long lineErrorAfter = -1;    // NOTIFY-LINESTATE (framing error) once this many came
    // The modem lines behind the server.  Silent: DTR and RTS go unanswered,
    // as ser2net serving a pseudo-terminal leaves them.
    enum class Lines { Silent, Loopback, NoDcdWire, AnswersOtherwise } lines = Lines::Silent;
};

class FakePortServer {
public:
    explicit FakePortServer(Script script) : script_(script)
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listen_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listen_, 4) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            throw std::runtime_error("no listening socket");
        port_ = ntohs(address.sin_port);
        if (::pipe(wake_) != 0)
            throw std::runtime_error("no pipe");
        thread_ = std::thread([this] { serve(); });
    }
    ~FakePortServer()
    {
        [[maybe_unused]] const auto n = ::write(wake_[1], "x", 1);
        thread_.join();
        for (const int fd : {listen_, wake_[0], wake_[1]})
            ::close(fd);
    }
    std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string data() const
    {
        const std::lock_guard lock(mutex_);
        return data_;
    }

private:
    bool waitFor(int fd)
    {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        return ::poll(p, 2, -1) > 0 && !(p[1].revents & POLLIN);
    }
    static void sendAll(int fd, const std::string &out)
    {
        for (std::size_t at = 0; at < out.size();) {
            const ssize_t n = ::send(fd, out.data() + at, out.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            at += static_cast<std::size_t>(n);
        }
    }
    void serve()
    {
        while (waitFor(listen_)) {
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            serveOne(fd);
            ::close(fd);
        }
    }
    void serveOne(int fd)
    {
        if (script_.refusesOption)
            sendAll(fd, negotiation(dont, optComPort));
        else if (script_.speaks)
            sendAll(fd, negotiation(doOption, optComPort) + negotiation(will, optBinary) + negotiation(doOption, optBinary));
        Decoder decoder;
        bool dtr = true;
        bool rts = true;
        // A full loopback plug: RTS to CTS, DTR to DSR and DCD (unless that
        // wire is missing).
        const auto modemState = [&] {
            std::uint8_t state = 0;
            if (rts)
                state |= modemstate::cts;
            if (dtr)
                state |= modemstate::dsr;
            if (dtr && script_.lines != Script::Lines::NoDcdWire)
                state |= modemstate::dcd;
            return comPortCommand(cpc::notifyModemState + cpc::serverOffset, one(state));
        };
        std::uint32_t rate = 9600;
        long count = 0;
        char buffer[4096];
        while (waitFor(fd)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            if (!script_.speaks)
                continue;
            std::string data;
            std::vector<Event> events;
            decoder.feed(std::string_view(buffer, static_cast<std::size_t>(n)), data, events);
            std::string out;
            for (const Event &e : events) {
                if (e.kind != Event::Kind::Subnegotiation || e.payload.empty())
                    continue;
                const auto command = static_cast<std::uint8_t>(e.payload[0]);
                std::string value = e.payload.substr(1);
                if (command == cpc::setBaudRate) {
                    if (rateFrom(value) != 0)
                        rate = script_.rateAnswer ? script_.rateAnswer : rateFrom(value);
                    value = rateValue(rate);
                } else if (command == cpc::setControl && value != one(value::flowNone)) {
                    const auto asked = static_cast<std::uint8_t>(value[0]);
                    if (script_.lines == Script::Lines::Silent || asked < value::dtrRequest || asked > value::rtsOff)
                        continue;
                    bool &line = asked <= value::dtrOff ? dtr : rts;
                    const std::uint8_t on = asked <= value::dtrOff ? value::dtrOn : value::rtsOn;
                    if (asked != value::dtrRequest && asked != value::rtsRequest)
                        line = asked == on;
                    const bool answered = script_.lines == Script::Lines::AnswersOtherwise ? !line : line;
                    out += comPortCommand(cpc::setControl + cpc::serverOffset, one(static_cast<std::uint8_t>(answered ? on : on + 1)));
                    out += modemState();
                    continue;
                } else if (command == cpc::setModemStateMask) {
                    if (script_.lines != Script::Lines::Silent)
                        out += modemState();
                    continue;
                } else if (command == cpc::setLineStateMask) {
                    continue;
                } else if (value == one(0)) {
                    value = command == cpc::setDataSize ? one(8) : one(1);
                }
                out += comPortCommand(command + cpc::serverOffset, value);
            }
            {
                const std::lock_guard lock(mutex_);
                data_ += data;
            }
            for (const char c : data) {
                ++count;
                if (script_.echoes)
                    appendEscaped(out, std::string_view(&c, 1));
                if (count == script_.lineErrorAfter)
                    out += comPortCommand(cpc::notifyLineState + cpc::serverOffset, one(linestate::framing));
                if (count == script_.closeAfter) {
                    sendAll(fd, out);
                    return;
                }
            }
            sendAll(fd, out);
        }
    }
    static std::string one(std::uint8_t byte) { return std::string(1, static_cast<char>(byte)); }

    Script script_;
    int listen_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::string data_;
    std::thread thread_;
};

// Bounds for the cases that wait for a silent server; the others keep the
// defaults, so that a busy machine cannot turn a slow answer into a fault.
Rfc2217Limits shortLimits()
{
    Rfc2217Limits limits;
    limits.optionMs = 1000;
    limits.answerMs = 1000;
    return limits;
}

std::string report(const modCOMM &comm) { return echosuite::reportOf(comm); }

// The serial layer's echo suite through the transport.
class FakeServerEnd : public echosuite::EchoEnd {
public:
    CommPlatform &platform() override { return platform_; }
    std::string device() const override { return server_.url(); }

private:
    FakePortServer server_{{}};
    Rfc2217CommPlatform platform_;
};

INSTANTIATE_TEST_SUITE_P(Ends, EchoSuite,
                         ::testing::Values(echosuite::EchoCase{
                             "FakePortServer", [] { return std::make_unique<FakeServerEnd>(); }, 115200}),
                         echosuite::caseName);

TEST(Rfc2217Transport, EveryByteValueCrossesBothWaysWithFFDoubled)
{
    FakePortServer server({});
    Rfc2217CommPlatform platform;
    modCOMM comm(platform);
    ASSERT_EQ(0, comm.CommOpen(1, server.url(), echosuite::modeFor(115200))) << report(comm);
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    all += bytes({0xFF, 0xFF, 0xFF}); // a run of them, cut nowhere
    ASSERT_EQ(static_cast<std::int32_t>(all.size()), comm.CommWrite(1, all)) << report(comm);
    // The server's decoder takes a lone 0xFF for a command and loses it.
    EXPECT_EQ(all, echosuite::readEcho(comm, all.size(), 10s));
    EXPECT_EQ(all, server.data());
    ASSERT_TRUE(comm.networkRoundTripMs(1).has_value());
    EXPECT_EQ(0, comm.CommClose(1));
}

TEST(Rfc2217Transport, LineStateNotificationsCountAsLineErrors)
{
    Script script;
    script.lineErrorAfter = 5;
    FakePortServer server(script);
    Rfc2217CommPlatform platform;
    modCOMM comm(platform);
    ASSERT_EQ(0, comm.CommOpen(1, server.url(), echosuite::modeFor(9600))) << report(comm);
    ASSERT_EQ(10, comm.CommWrite(1, "ABCDEFGHIJ"));
    EXPECT_EQ("ABCDEFGHIJ", echosuite::readEcho(comm, 10, 10s));
    EXPECT_EQ(1u, comm.lineErrorCounts(1).framing);
    EXPECT_NE(0u, comm.lineErrorsSeen(1) & commflags::frame);
    EXPECT_EQ(0, comm.CommClose(1));
}

// --- The modem lines -------------------------------------------------------

// The line test through the server's lines: a full loopback plug behind it
// passes, a missing wire is named, a server that sets no lines is refused
// as a pseudo-terminal is, one that answers otherwise is an error.
TEST(Rfc2217Lines, TheLineTestRunsOnTheServersLines)
{
    struct Case {
        const char *name;
        Script::Lines lines;
        echotest::LineVerdict verdict;
        const char *says; // in the message or a wire's fault
    };
    const Case cases[] = {
        {"loopback plug", Script::Lines::Loopback, echotest::LineVerdict::Pass, ""},
        {"DCD wire missing", Script::Lines::NoDcdWire, echotest::LineVerdict::Fail, "DCD not wired"},
        {"lines not set", Script::Lines::Silent, echotest::LineVerdict::NoLines,
         " has no handshake lines (the port server at 127.0.0.1:"},
        {"answered otherwise", Script::Lines::AnswersOtherwise, echotest::LineVerdict::Error,
         "answered SET-CONTROL"},
    };
    for (const Case &c : cases) {
        Script script;
        script.lines = c.lines;
        FakePortServer server(script);
        Rfc2217CommPlatform platform;
        modCOMM comm(platform);
        ASSERT_EQ(0, comm.CommOpen(1, server.url(), echosuite::modeFor(9600))) << c.name << ": " << report(comm);
        PortLines lines(comm, 1);
        echotest::LineTestOptions options;
        options.settleLimitMs = 1000; // the server answers at once; a busy machine may not
        const echotest::LineTestResult result = echotest::runLineTest(lines, options, server.url());
        EXPECT_EQ(c.verdict, result.verdict) << c.name << ": " << result.message;
        std::string said = result.message;
        for (const echotest::WireResult &w : result.wires)
            said += w.fault + ";";
        EXPECT_NE(std::string::npos, said.find(c.says)) << c.name << ": " << said;
        if (c.verdict == echotest::LineVerdict::Pass || c.verdict == echotest::LineVerdict::Fail) {
            EXPECT_TRUE(result.restored) << c.name;
            ASSERT_EQ(3u, result.wires.size()) << c.name;
            EXPECT_TRUE(result.wires[0].pass && result.wires[1].pass) << c.name << ": RTS-CTS and DTR-DSR are wired";
        }
        // The data goes on through the same connection after the lines.
        ASSERT_EQ(3, comm.CommWrite(1, "abc")) << c.name;
        EXPECT_EQ("abc", echosuite::readEcho(comm, 3, 10s)) << c.name;
        EXPECT_EQ(0, comm.CommClose(1));
    }
}

// --- The run ---------------------------------------------------------------

struct RunOutcome {
    echotest::RunResult result;
    std::string message;
    double seconds = 0;
};

RunOutcome runAgainst(CommPlatform &platform, const std::string &device, const char *baud)
{
    modCOMM comm(platform);
    echotest::HeadlessView view;
    echotest::EchoTestRun engine(comm, view, echotest::systemTimerClock());
    echotest::RunSettings settings;
    settings.plan.sendPort.device = device;
    settings.plan.sendPort.portName = device;
    settings.plan.baud = echotest::readBaudText(baud);
    const auto start = Clock::now();
    RunOutcome outcome;
    outcome.result = engine.run(settings);
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.message = view.lastMessage();
    return outcome;
}

struct RateCase {
    const char *name;
    std::uint32_t answer;
    bool refused;
    friend void PrintTo(const RateCase &c, std::ostream *os) { *os << c.name; }
};

class Rfc2217RateAnswer : public ::testing::TestWithParam<RateCase> {};

TEST_P(Rfc2217RateAnswer, ARateTheServerAnswersOtherwiseIsRefused)
{
    Script script;
    script.rateAnswer = GetParam().answer;
    FakePortServer server(script);
    Rfc2217CommPlatform platform;
    const RunOutcome run = runAgainst(platform, server.url(), "115200");
    if (GetParam().refused) {
        EXPECT_EQ(echotest::Verdict::OpenFailed, run.result.verdict);
        EXPECT_EQ(87, run.result.openError.number);
        EXPECT_EQ(0u, run.message.find("The baud rate 115200 is not supported by " + server.url() + "!"))
            << run.message;
        EXPECT_TRUE(server.data().empty()) << "no data before the line is set";
    } else {
        EXPECT_EQ(echotest::Verdict::Pass, run.result.verdict) << run.message;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Rfc2217RateAnswer,
                         ::testing::Values(RateCase{"Other", 9600, true}, RateCase{"TwoPercentOff", 112896, true},
                                           RateCase{"RoundedWithinOnePercent", 115000, false},
                                           RateCase{"AsAsked", 0, false}),
                         [](const auto &info) { return std::string(info.param.name); });

// No server at all: a port that was free a moment ago.
std::uint16_t closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(Rfc2217Open, EachFailureIsNamedWithHostAndPortAndNothingIsSent)
{
    struct Case {
        const char *name;
        Script script;
        std::int32_t number;
        SystemCause::Kind kind;
        const char *says;
    };
    Script raw;
    raw.speaks = false;
    Script refusing;
    refusing.refusesOption = true;
    const Case cases[] = {
        {"raw TCP port", raw, 50, SystemCause::Kind::NotRfc2217, "is not an RFC 2217 port server"},
        {"option refused", refusing, 50, SystemCause::Kind::NotRfc2217, "is not an RFC 2217 port server"},
    };
    for (const Case &c : cases) {
        FakePortServer server(c.script);
        Rfc2217CommPlatform platform(shortLimits());
        const RunOutcome run = runAgainst(platform, server.url(), "9600");
        EXPECT_EQ(echotest::Verdict::OpenFailed, run.result.verdict) << c.name;
        EXPECT_EQ(c.number, run.result.openError.number) << c.name;
        EXPECT_EQ(c.kind, run.result.openError.cause.kind) << c.name;
        EXPECT_NE(std::string::npos, run.message.find(c.says)) << c.name << ": " << run.message;
        EXPECT_NE(std::string::npos, run.message.find(server.hostAndPort())) << c.name << ": " << run.message;
        EXPECT_EQ(std::string::npos, server.data().find("ABCDEFGHIJ")) << c.name << ": the test must not run";
        EXPECT_LT(run.seconds, 10.0) << c.name;
    }

    Rfc2217CommPlatform platform(shortLimits());
    const std::string refusedUrl = "rfc2217://127.0.0.1:" + std::to_string(closedPort());
    const RunOutcome refused = runAgainst(platform, refusedUrl, "9600");
    EXPECT_EQ(echotest::Verdict::OpenFailed, refused.result.verdict);
    EXPECT_EQ(10061, refused.result.openError.number);
    EXPECT_EQ(0u, refused.message.find(refusedUrl + ": no connection to 127.0.0.1:")) << refused.message;

    const RunOutcome unknown = runAgainst(platform, "rfc2217://no-such-host.invalid:2217", "9600");
    EXPECT_EQ(echotest::Verdict::OpenFailed, unknown.result.verdict);
    EXPECT_EQ(11001, unknown.result.openError.number);
    EXPECT_NE(std::string::npos, unknown.message.find("the host no-such-host.invalid cannot be found")) << unknown.message;
}

TEST(Rfc2217Run, PassesThroughTheServerWithTheRoundTripInTheResult)
{
    FakePortServer server({});
    Rfc2217CommPlatform platform;
    const RunOutcome run = runAgainst(platform, server.url(), "115200");
    EXPECT_EQ(echotest::Verdict::Pass, run.result.verdict) << run.message;
    ASSERT_TRUE(run.result.networkRoundTripMs.has_value());
    EXPECT_GE(*run.result.networkRoundTripMs, 0.0);
}

TEST(Rfc2217Run, AStalledServerFailsAtTheTimeOut)
{
    Script script;
    script.echoes = false;
    FakePortServer server(script);
    Rfc2217CommPlatform platform;
    const RunOutcome run = runAgainst(platform, server.url(), "115200");
    EXPECT_EQ(echotest::Verdict::Fail, run.result.verdict);
    EXPECT_EQ(0, run.result.received);
    EXPECT_FALSE(run.result.portLost);
    EXPECT_EQ(1000u, server.data().size());
    EXPECT_LT(run.seconds, run.result.timeoutMs / 1000.0 + 10.0);
}

TEST(Rfc2217Run, AConnectionDroppedMidRunFailsAtOnceNamingTheServer)
{
    Script script;
    script.closeAfter = 300;
    FakePortServer server(script);
    Rfc2217CommPlatform platform;
    // 1200 baud: a run that waited for the rest would take over 9 s.
    const RunOutcome run = runAgainst(platform, server.url(), "1200");
    EXPECT_EQ(echotest::Verdict::Fail, run.result.verdict);
    EXPECT_TRUE(run.result.portLost);
    EXPECT_LE(run.result.received, 300);
    EXPECT_LT(run.seconds, 5.0);
    EXPECT_NE(std::string::npos, run.message.find("disconnected")) << run.message;
    EXPECT_NE(std::string::npos, run.message.find("connection to " + server.hostAndPort())) << run.message;
}

} // namespace
} // namespace serial
