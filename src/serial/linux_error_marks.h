#pragma once
// The line discipline's marks for bytes received in error.  With INPCK and
// PARMRK on, Linux hands a byte that came with a parity or framing error
// (or a break, as a NUL) over as the three bytes 0xFF 0x00 c, and a sound
// 0xFF data byte as 0xFF 0xFF.  ErrorMarkDecoder turns that stream back into
// the bytes as they arrived, each marked one as a NUL (what the port gives
// without PARMRK), and remembers where the marked ones were.  A sequence cut
// between two reads is carried over to the next.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace serial::linuxtty {

class ErrorMarkDecoder {
public:
    // Decodes size bytes of data in place; returns the bytes left.  The
    // positions of marked bytes (counted over all bytes decode has given,
    // from 0) are appended to marks().
    std::size_t decode(char *data, std::size_t size);
    // True while the end of a mark sequence is still to come.
    bool midSequence() const { return state_ != State::Plain; }
    // Where marked bytes were, and how many bytes decode has given in all.
    const std::vector<std::uint64_t> &marks() const { return marks_; }
    std::uint64_t delivered() const { return delivered_; }
    // Forgets the marks (the count of bytes given runs on).
    void clearMarks() { marks_.clear(); }

private:
    enum class State : std::uint8_t { Plain, AfterFF, AfterFF00 };
    State state_ = State::Plain;
    std::uint64_t delivered_ = 0;
    std::vector<std::uint64_t> marks_;
};

} // namespace serial::linuxtty
