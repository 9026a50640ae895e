#pragma once
// The patterns a test can send, read from their short forms:
//
//   spec          "ABCDEFGHIJ" repeated (the classic echo test)
//   0xNN          one byte value repeated; 0x55 gives the most edges a second
//   counting      0, 1, 2, ..., 255, 0, 1, ...
//   all-bytes     every byte value once, each followed by its complement:
//                 0x00 0xFF 0x01 0xFE 0x02 0xFD ... 0x7F 0x80, so every data
//                 line changes level from one byte to the next at least every
//                 other byte and a stuck or swapped line shows at once
//   random[:SEED] bytes of a splitmix64 generator, the same on every
//                 platform for a seed; without one a seed is chosen and
//                 recorded in the pattern's name ("random:1234")
//   hex:55AA01    the bytes given, as pairs of hex digits (blanks, commas,
//                 colons and dashes between the bytes are allowed)
//   file:PATH     the bytes of a file
//
// A pattern runs for a length: when none is asked for, 1000 bytes, except
// all-bytes (256) and hex:/file: (their own bytes).  With a length, the
// form's bytes repeat, or are cut, to that many.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/test_plan.h"

namespace echotest {

inline constexpr std::size_t kDefaultPatternLength = 1000;
inline constexpr int kDefaultChunkSize = 10;
// The largest pattern a run takes (and the largest pattern file read).
inline constexpr std::size_t kMaxPatternLength = 16u * 1024u * 1024u;

struct PatternRequest {
    std::string form = "spec";
    std::optional<std::size_t> length; // none: the form's own length
    int chunkSize = kDefaultChunkSize;
};

// Builds the pattern a request names.  nullopt with a one-line reason in
// error for a form it does not know, a bad number, an unreadable or empty
// file, a length or chunk size out of range.  seedSource gives the seed of
// a random pattern without one (default: the system's random device).
std::optional<Pattern> makePattern(const PatternRequest &request, std::string &error,
                                   const std::function<std::uint64_t()> &seedSource = {});

// The first byte the frame's data bits cannot carry, as a usage message
// ("the pattern's byte 128 (0x80) needs 8 data bits; the frame 7E1 carries
// 7 (0x00 to 0x7F)"); nullopt when every byte fits.  Byte positions count
// from 0.
std::optional<std::string> patternFrameMismatch(const Pattern &pattern, const Frame &frame);

// splitmix64: the generator of random patterns (also used by tests and the
// virtual plug's faults).  The same seed gives the same sequence everywhere.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_;
};

} // namespace echotest
