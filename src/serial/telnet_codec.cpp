#include "serial/telnet_codec.h"

namespace serial::telnet {

void appendEscaped(std::string &out, std::string_view data)
{
    out.reserve(out.size() + data.size());
    for (const char c : data) {
        out += c;
        if (static_cast<std::uint8_t>(c) == iac)
            out += c;
    }
}

std::string negotiation(std::uint8_t verb, std::uint8_t option)
{
    return {static_cast<char>(iac), static_cast<char>(verb), static_cast<char>(option)};
}

std::string comPortCommand(std::uint8_t command, std::string_view value)
{
    std::string out{static_cast<char>(iac), static_cast<char>(sb), static_cast<char>(optComPort),
                    static_cast<char>(command)};
    appendEscaped(out, value);
    out += static_cast<char>(iac);
    out += static_cast<char>(se);
    return out;
}

std::string rateValue(std::uint32_t rate)
{
    return {static_cast<char>(rate >> 24), static_cast<char>(rate >> 16), static_cast<char>(rate >> 8),
            static_cast<char>(rate)};
}

std::uint32_t rateFrom(std::string_view value)
{
    std::uint32_t rate = 0;
    for (std::size_t i = 0; i < 4 && i < value.size(); ++i)
        rate = (rate << 8) | static_cast<std::uint8_t>(value[i]);
    return value.size() >= 4 ? rate : 0;
}

void Decoder::feed(std::string_view bytes, std::string &data, std::vector<Event> &events)
{
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        switch (state_) {
        case State::Data:
            if (byte == iac)
                state_ = State::Iac;
            else
                data += c;
            break;
        case State::Iac:
            if (byte == iac) {
                data += c;
                state_ = State::Data;
            } else if (byte >= will && byte <= dont) {
                verb_ = byte;
                state_ = State::Verb;
            } else if (byte == sb) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA, a stray SE: nothing for us
            }
            break;
        case State::Verb:
            events.push_back({Event::Kind::Negotiation, verb_, byte, {}});
            state_ = State::Data;
            break;
        case State::Sub:
            if (byte == iac)
                state_ = State::SubIac;
            else
                sub_ += c;
            break;
        case State::SubIac:
            if (byte == iac) {
                sub_ += c;
                state_ = State::Sub;
            } else {
                // IAC SE ends it; anything else after IAC is a broken
                // sequence, ended here all the same rather than swallowing
                // the data that follows.
                if (!sub_.empty())
                    events.push_back({Event::Kind::Subnegotiation, 0, static_cast<std::uint8_t>(sub_[0]),
                                      sub_.substr(1)});
                sub_.clear();
                state_ = State::Data;
            }
            break;
        }
    }
}

} // namespace serial::telnet
