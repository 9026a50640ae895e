#include "cli/echo_inputs.h"

#include <algorithm>
#include <cctype>

#include "serial/rfc2217_port.h"

namespace cli {

std::string checkDeviceText(const std::string &text)
{
    if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }))
        return "the device name is empty";
    serial::RemoteAddress address;
    if (serial::isRfc2217Name(text) && !serial::parseRfc2217Name(text, address))
        return "a port on another machine is named rfc2217://HOST:PORT (port 1 to 65535)";
    return {};
}

std::string checkBaudText(const std::string &text)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return "the baud rate must be a whole number in plain decimal digits, e.g. 9600";
    const auto first = text.find_first_not_of('0');
    const std::string digits = first == std::string::npos ? "0" : text.substr(first);
    const std::string maximum = std::to_string(kMaximumBaudRate);
    if (digits.size() > maximum.size() || (digits.size() == maximum.size() && digits > maximum))
        return "Baud rate too high! The maximum baud rate is " + maximum + ".";
    return {};
}

} // namespace cli
