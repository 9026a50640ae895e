#include "engine/pattern_forms.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <random>

namespace echotest {
namespace {

std::string hexOf(const std::string &bytes)
{
    std::string text;
    char digits[3];
    for (const char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
        text += digits;
    }
    return text;
}

Pattern made(const std::string &form, std::optional<std::size_t> length = std::nullopt, int chunk = 10)
{
    std::string error;
    const auto pattern = makePattern({form, length, chunk}, error, [] { return std::uint64_t{777}; });
    EXPECT_TRUE(pattern) << form << ": " << error;
    return pattern.value_or(Pattern{});
}

std::string refusal(const std::string &form, std::optional<std::size_t> length = std::nullopt, int chunk = 10)
{
    std::string error;
    const auto pattern = makePattern({form, length, chunk}, error);
    EXPECT_FALSE(pattern) << form;
    return error;
}

// Each form's name, length, first and last bytes: a change of any form's
// bytes changes what a recorded run means, so they are fixed here.
TEST(PatternFormsTest, EachFormGivesItsBytes)
{
    struct Case {
        const char *form;
        std::optional<std::size_t> length;
        const char *name;
        std::size_t size;
        const char *headHex; // first bytes
        const char *tailHex; // last bytes
    };
    const Case cases[] = {
        {"spec", {}, "spec", 1000, "4142434445464748494a41", "4142434445464748494a"},
        {"SPEC", 15, "spec", 15, "4142434445464748494a4142434445", "4142434445"},
        {"0x55", {}, "0x55", 1000, "5555", "5555"},
        {"0xc1", 3, "0xC1", 3, "c1c1c1", "c1"},
        {"0x7", 2, "0x07", 2, "0707", "07"},
        {"counting", {}, "counting", 1000, "000102", "e5e6e7"}, // 999 % 256 = 231
        {"counting", 258, "counting", 258, "0001", "feff0001"},
        {"all-bytes", {}, "all-bytes", 256, "00ff01fe02fd", "7e817f80"},
        {"all-bytes", 260, "all-bytes", 260, "00ff", "7f8000ff01fe"},
        // splitmix64 from 1234567: 6457827717110365317 = 0x599ED017FB08FC85,
        // then 3203168211198807973 = 0x2C73F08458540FA5, low byte first.
        {"random:1234567", 16, "random:1234567", 16, "85fc08fb17d09e59a50f545884f0732c", "2c"},
        {"random:42", 12, "random:42", 12, "956eeb2f2632d7bd03f166b2", "b2"},
        {"random", {}, "random:777", 1000, "", ""},
        {"hex:55AA01", {}, "hex:55AA01", 3, "55aa01", "01"},
        {"hex:55 aa,01:ff-00", 7, "hex:55AA01FF00", 7, "55aa01ff0055aa", "aa"},
    };
    for (const Case &c : cases) {
        const Pattern pattern = made(c.form, c.length);
        EXPECT_EQ(c.name, pattern.name) << c.form;
        ASSERT_EQ(c.size, pattern.length()) << c.form;
        const std::string head = c.headHex;
        const std::string tail = c.tailHex;
        const std::string all = hexOf(pattern.bytes);
        EXPECT_EQ(head, all.substr(0, head.size())) << c.form;
        EXPECT_EQ(tail, all.substr(all.size() - tail.size())) << c.form;
    }
    EXPECT_EQ(Pattern::classic(), made("spec"));
    EXPECT_EQ(made("random:777", 1000), made("random"));
}

TEST(PatternFormsTest, AllBytesHoldsEveryValueOnceAndFlipsEveryLine)
{
    const Pattern pattern = made("all-bytes");
    const std::set<unsigned char> values(pattern.bytes.begin(), pattern.bytes.end());
    EXPECT_EQ(256u, values.size());
    // Every byte at an even position is followed by its complement.
    for (std::size_t i = 0; i < pattern.bytes.size(); i += 2)
        EXPECT_EQ(0xFF, static_cast<unsigned char>(pattern.bytes[i] ^ pattern.bytes[i + 1])) << i;
}

TEST(PatternFormsTest, ReadsAFileAndTheChunkSize)
{
    const auto path = std::filesystem::temp_directory_path() / ("rebounce_pattern_" + std::to_string(std::random_device{}()));
    {
        std::ofstream file(path, std::ios::binary);
        file.write("\x00\x01\xFFZ", 4);
    }
    const Pattern whole = made("file:" + path.string(), std::nullopt, 3);
    EXPECT_EQ(std::string("\x00\x01\xFFZ", 4), whole.bytes);
    EXPECT_EQ(3, whole.chunkSize);
    EXPECT_EQ("file:" + path.string(), whole.name);
    EXPECT_EQ(std::string("\x00\x01\xFFZ\x00\x01", 6), made("file:" + path.string(), 6).bytes);
    std::filesystem::remove(path);
    EXPECT_NE(std::string::npos, refusal("file:" + path.string()).find(path.string()));
}

TEST(PatternFormsTest, RefusesWhatItCannotRead)
{
    for (const char *form : {"", "0x", "0x123", "0xg1", "count", "random:", "random:x", "random:-1",
                             "random:18446744073709551616", "hex:", "hex:5", "hex:5 5", "hex:zz", "file:", "ABC"})
        EXPECT_FALSE(refusal(form).empty()) << form;
    EXPECT_FALSE(refusal("spec", 0).empty());
    EXPECT_FALSE(refusal("spec", kMaxPatternLength + 1).empty());
    EXPECT_FALSE(refusal("spec", {}, 0).empty());
}

TEST(PatternFormsTest, NamesTheFirstByteAFrameCannotCarry)
{
    struct Case {
        const char *form;
        const char *frame;
        const char *message; // empty: fits
    };
    const Case cases[] = {
        {"0xC1", "7E1", "the pattern's byte 0 (0xC1) needs 8 data bits; the frame 7E1 carries 7 (0x00 to 0x7F)"},
        {"counting", "7N1", "the pattern's byte 128 (0x80) needs 8 data bits; the frame 7N1 carries 7 (0x00 to 0x7F)"},
        {"counting", "5N1", "the pattern's byte 32 (0x20) needs 6 data bits; the frame 5N1 carries 5 (0x00 to 0x1F)"},
        {"all-bytes", "6O2", "the pattern's byte 1 (0xFF) needs 8 data bits; the frame 6O2 carries 6 (0x00 to 0x3F)"},
        {"spec", "7E1", ""},
        {"0x7F", "7O2", ""},
        {"all-bytes", "8E1", ""},
    };
    for (const Case &c : cases) {
        const auto mismatch = patternFrameMismatch(made(c.form), *parseFrame(c.frame));
        EXPECT_EQ(c.message, mismatch.value_or("")) << c.form << " " << c.frame;
    }
}

} // namespace
} // namespace echotest
