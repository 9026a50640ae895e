#include "serial/linux_error_marks.h"

namespace serial::linuxtty {

std::size_t ErrorMarkDecoder::decode(char *data, std::size_t size)
{
    std::size_t out = 0;
    for (std::size_t in = 0; in < size; ++in) {
        const auto byte = static_cast<unsigned char>(data[in]);
        switch (state_) {
        case State::Plain:
            if (byte == 0xFF) {
                state_ = State::AfterFF;
                continue;
            }
            data[out++] = static_cast<char>(byte);
            break;
        case State::AfterFF:
            if (byte == 0xFF) { // a doubled 0xFF: one data byte
                state_ = State::Plain;
                data[out++] = static_cast<char>(0xFF);
            } else if (byte == 0x00) {
                state_ = State::AfterFF00;
                continue;
            } else {
                // Never from the line discipline (it doubles every 0xFF);
                // keep the lone 0xFF where there is room for it before this
                // byte, which is a plain one.
                state_ = State::Plain;
                if (out < in)
                    data[out++] = static_cast<char>(0xFF);
                data[out++] = static_cast<char>(byte);
            }
            break;
        case State::AfterFF00:
            // The byte that came in error; it stands in the data as a NUL.
            state_ = State::Plain;
            marks_.push_back(delivered_ + out);
            data[out++] = 0;
            break;
        }
    }
    delivered_ += out;
    return out;
}

} // namespace serial::linuxtty
