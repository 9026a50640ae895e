#include "engine/test_plan.h"


namespace echotest {

std::optional<Frame> parseFrame(std::string_view text)
{
    if (text.size() < 3)
        return std::nullopt;
    Frame frame;
    if (text[0] < '5' || text[0] > '8')
        return std::nullopt;
    frame.dataBits = text[0] - '0';
    switch (text[1]) {
    case 'N': case 'n': frame.parity = Frame::Parity::None; break;
    case 'E': case 'e': frame.parity = Frame::Parity::Even; break;
    case 'O': case 'o': frame.parity = Frame::Parity::Odd; break;
    case 'M': case 'm': frame.parity = Frame::Parity::Mark; break;
    case 'S': case 's': frame.parity = Frame::Parity::Space; break;
    default: return std::nullopt;
    }
    const std::string_view stop = text.substr(2);
    if (stop == "1")
        frame.stopBits = Frame::StopBits::One;
    else if (stop == "1.5")
        frame.stopBits = Frame::StopBits::OneAndHalf;
    else if (stop == "2")
        frame.stopBits = Frame::StopBits::Two;
    else
        return std::nullopt;
    return frame;
}

std::string TestPlan::modeText() const
{
    const char *stop = frame.stopBits == Frame::StopBits::One ? "1" : frame.stopBits == Frame::StopBits::OneAndHalf ? "1.5" : "2";
    return "baud=" + baud.text + " parity=" + static_cast<char>(frame.parity) + " data=" + std::to_string(frame.dataBits)
        + " stop=" + stop;
}

std::string TestPlan::expectedEcho(bool lowerCase) const
{
    std::string text = pattern.bytes;
    if (lowerCase) {
        for (char &c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

} // namespace echotest
