#include "serial/port_lines.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace serial {

namespace {

struct NamedLine {
    std::uint32_t line;
    const char *name;
};
constexpr std::array<NamedLine, 8> kNames{{{modemline::rts, "RTS"}, {modemline::dtr, "DTR"},
                                           {modemline::out1, "OUT1"}, {modemline::out2, "OUT2"},
                                           {modemline::cts, "CTS"}, {modemline::dsr, "DSR"},
                                           {modemline::dcd, "DCD"}, {modemline::ri, "RI"}}};

} // namespace

PortLines::PortLines(modCOMM &comm, std::int16_t port)
    : platform_(comm.platform()),
      handle_(comm.portRecord(port).IsOpen ? comm.portRecord(port).Handle : invalidCommHandle)
{
}

bool PortLines::record(const char *call)
{
    // A platform without the line calls leaves no number of its own.
    std::uint32_t number = platform_.getLastError();
    SystemCause cause = platform_.lastCause();
    if (number == winerr::success) {
        number = winerr::invalidFunction;
        cause = {};
        cause.kind = SystemCause::Kind::NoModemLines;
    }
    std::vector<char> text(256, '\0');
    platform_.formatMessage(number, text.data(), static_cast<std::uint32_t>(text.size() - 1));
    std::string message(text.data());
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back())))
        message.pop_back();
    lastError_ = CommError{static_cast<std::int32_t>(number), std::string("Lines (") + call + ")", message, cause};
    return false;
}

bool PortLines::read(std::uint32_t &lines)
{
    return platform_.getModemLines(handle_, lines) || record("GetModemLines");
}

bool PortLines::set(std::uint32_t raise, std::uint32_t lower)
{
    return platform_.setModemLines(handle_, raise, lower) || record("SetModemLines");
}

bool PortLines::waitForChange(std::uint32_t &lines, int timeoutMs)
{
    return platform_.waitModemChange(handle_, lines, timeoutMs) || record("WaitModemChange");
}

std::uint32_t PortLines::outputs() { return platform_.modemOutputs(handle_); }

std::string modemLineName(std::uint32_t line)
{
    const auto it = std::find_if(kNames.begin(), kNames.end(), [line](const NamedLine &n) { return n.line == line; });
    return it == kNames.end() ? std::string() : it->name;
}

std::uint32_t modemLineByName(const std::string &name)
{
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto it = std::find_if(kNames.begin(), kNames.end(), [&](const NamedLine &n) { return upper == n.name; });
    return it == kNames.end() ? 0 : it->line;
}

} // namespace serial
