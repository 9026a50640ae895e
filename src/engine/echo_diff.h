#pragma once
// Where an echo went wrong.
//
// Comparing byte by byte would call everything after one lost byte wrong,
// so the echo is aligned with the pattern first (fewest substitutions,
// losses and additions, as an edit distance), and each fault is reported
// once, at the position of the pattern where it happened.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace echotest {

struct EchoDiff {
    int32_t wrongBytes = 0;   // came back as another byte
    int32_t missingBytes = 0; // never came back
    int32_t extraBytes = 0;   // came back although nothing was sent for them
    // Positions in the pattern that came back wrong or not at all, in order;
    // an extra byte counts at the position it arrived before.
    std::vector<int32_t> errorPositions;

    struct FirstError {
        int32_t position = 0;                 // in the pattern
        unsigned char expected = 0;           // the pattern's byte there (0 past its end)
        std::optional<unsigned char> received; // what came instead; none when it was lost
    };
    std::optional<FirstError> first;

    int32_t errors() const { return wrongBytes + missingBytes + extraBytes; }
};

// Aligns received with expected.  Past kMaxAlignedBytes of received data the
// rest counts as extra without being aligned.  A long pattern (tens of
// kilobytes) is aligned only between the beginning and the end the two have
// in common, and that part, if still too long, position by position.
EchoDiff compareEcho(const std::string &expected, const std::string &received);

inline constexpr std::size_t kMaxAlignedBytes = 4000;

} // namespace echotest
