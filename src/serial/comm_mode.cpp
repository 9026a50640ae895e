#include "serial/comm_mode.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <optional>
#include <sstream>

namespace serial {

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::optional<bool> onOff(const std::string &value)
{
    if (value == "on")
        return true;
    if (value == "off")
        return false;
    return std::nullopt;
}

std::optional<std::uint32_t> decimal(const std::string &value)
{
    std::uint32_t number = 0;
    const char *end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, number);
    if (value.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return number;
}

bool applyPair(const std::string &key, const std::string &value, Dcb &dcb, bool &dtrNamed, bool &rtsNamed)
{
    if (key == "baud") {
        const auto rate = decimal(value);
        if (!rate)
            return false;
        dcb.baudRate = *rate;
    } else if (key == "parity") {
        static const std::string letters = "noems";
        static const std::uint8_t parities[] = {Dcb::NoParity, Dcb::OddParity, Dcb::EvenParity, Dcb::MarkParity,
                                                Dcb::SpaceParity};
        if (value.size() != 1 || letters.find(value[0]) == std::string::npos)
            return false;
        dcb.parity = parities[letters.find(value[0])];
    } else if (key == "data") {
        const auto bits = decimal(value);
        if (!bits || *bits < 5 || *bits > 8)
            return false;
        dcb.byteSize = static_cast<std::uint8_t>(*bits);
    } else if (key == "stop") {
        if (value == "1")
            dcb.stopBits = Dcb::OneStopBit;
        else if (value == "1.5")
            dcb.stopBits = Dcb::One5StopBits;
        else if (value == "2")
            dcb.stopBits = Dcb::TwoStopBits;
        else
            return false;
    } else if (key == "dtr" || key == "rts") {
        std::uint8_t control = 0;
        if (value == "on")
            control = Dcb::LineEnable;
        else if (value == "off")
            control = Dcb::LineDisable;
        else if (value == "hs")
            control = Dcb::LineHandshake;
        else if (value == "tg" && key == "rts")
            control = Dcb::LineToggle;
        else
            return false;
        (key == "dtr" ? dcb.dtrControl : dcb.rtsControl) = control;
        (key == "dtr" ? dtrNamed : rtsNamed) = true;
    } else {
        const auto flag = onOff(value);
        if (!flag)
            return false;
        if (key == "xon") {
            dcb.outX = dcb.inX = *flag;
        } else if (key == "odsr") {
            dcb.outxDsrFlow = *flag;
        } else if (key == "octs") {
            dcb.outxCtsFlow = *flag;
        } else if (key == "idsr") {
            dcb.dsrSensitivity = *flag;
        } else if (key != "to") { // the infinite-time-out switch has no member here
            return false;
        }
    }
    return true;
}

} // namespace

bool parseCommMode(const std::string &mode, Dcb &dcb)
{
    Dcb edited = dcb;
    // Flow control is off unless the text switches it on.
    edited.outX = edited.inX = false;
    edited.outxCtsFlow = edited.outxDsrFlow = false;
    edited.dsrSensitivity = false;
    bool dtrNamed = false;
    bool rtsNamed = false;

    std::istringstream words(lowered(mode));
    std::string word;
    int pairs = 0;
    while (words >> word) {
        const auto equals = word.find('=');
        if (equals == std::string::npos || equals == 0)
            return false;
        if (!applyPair(word.substr(0, equals), word.substr(equals + 1), edited, dtrNamed, rtsNamed))
            return false;
        ++pairs;
    }
    if (pairs == 0)
        return false;
    if (!dtrNamed)
        edited.dtrControl = Dcb::LineEnable;
    if (!rtsNamed)
        edited.rtsControl = Dcb::LineEnable;
    dcb = edited;
    return true;
}

std::string windowsErrorText(std::uint32_t code)
{
    switch (code) {
    case winerr::success: return "The operation completed successfully.\r\n";
    case winerr::invalidFunction: return "Incorrect function.\r\n";
    case winerr::fileNotFound: return "The system cannot find the file specified.\r\n";
    case winerr::pathNotFound: return "The system cannot find the path specified.\r\n";
    case winerr::accessDenied: return "Access is denied.\r\n";
    case winerr::invalidHandle: return "The handle is invalid.\r\n";
    case winerr::notEnoughMemory: return "Not enough memory resources are available to process this command.\r\n";
    case winerr::badCommand: return "The device does not recognize the command.\r\n";
    case winerr::genFailure: return "A device attached to the system is not functioning.\r\n";
    case winerr::invalidParameter: return "The parameter is incorrect.\r\n";
    case winerr::operationAborted:
        return "The I/O operation has been aborted because of either a thread exit or an application request.\r\n";
    case winerr::ioIncomplete: return "Overlapped I/O event is not in a signaled state.\r\n";
    case winerr::ioPending: return "Overlapped I/O operation is in progress.\r\n";
    case winerr::ioDevice: return "The request could not be performed because of an I/O device error.\r\n";
    case winerr::semTimeout: return "The semaphore timeout period has expired.\r\n";
    case winerr::deviceNotConnected: return "The device is not connected.\r\n";
    default: return {};
    }
}

std::uint32_t copyMessageText(const std::string &text, char *buffer, std::uint32_t size)
{
    if (text.empty() || size == 0)
        return 0;
    const auto n = std::min<std::size_t>(text.size(), size);
    std::memcpy(buffer, text.data(), n);
    if (n < size)
        buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

} // namespace serial
