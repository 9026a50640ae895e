// The line discipline's error marks (PARMRK) taken out of what reads give:
// marked bytes, doubled 0xFF data bytes and sequences cut between reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/linux_error_marks.h"

namespace {

using serial::linuxtty::ErrorMarkDecoder;

TEST(ErrorMarkDecoder, GivesTheBytesAsReceivedAndWhereTheMarkedOnesWere)
{
    using namespace std::string_literals;
    struct Case {
        const char *name;
        std::vector<std::string> reads; // what each read() returned
        std::string data;               // the bytes the reads give, in all
        std::vector<std::uint64_t> marks;
    };
    const Case cases[] = {
        {"plain bytes", {"ABC"}, "ABC", {}},
        {"doubled 0xFF is one data byte", {"\xFF\xFF" "A\xFF\xFF\xFF\xFF"s}, "\xFF" "A\xFF\xFF"s, {}},
        {"parity error in the middle", {"AB\xFF\x00" "CD"s}, "AB\x00" "D"s, {2}},
        {"break (a marked NUL) and an error on 0xFF",
         {"\xFF\x00\x00" "A\xFF\x00\xFF"s}, "\x00" "A\x00"s, {0, 2}},
        {"marks cut between reads", {"A\xFF"s, "\x00"s, "B\xFF"s, "\xFF" "C\xFF\x00"s, "\x7F"s},
         "A\x00\xFF" "C\x00"s, {1, 4}},
        {"an error mark right after a doubled 0xFF", {"\xFF\xFF\xFF\x00Q"s}, "\xFF\x00"s, {1}},
        {"a lone 0xFF (not from the line discipline) is kept", {"A\xFF" "B"s}, "A\xFF" "B"s, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ErrorMarkDecoder decoder;
        std::string data;
        for (std::string read : c.reads) {
            const std::size_t n = decoder.decode(read.data(), read.size());
            ASSERT_LE(n, read.size());
            data.append(read.data(), n);
        }
        EXPECT_EQ(c.data, data);
        EXPECT_EQ(c.marks, decoder.marks());
        EXPECT_EQ(c.data.size(), decoder.delivered());
        EXPECT_FALSE(decoder.midSequence());
    }
}

} // namespace
