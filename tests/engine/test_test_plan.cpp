#include "engine/test_plan.h"

#include <gtest/gtest.h>

namespace echotest {
namespace {

TEST(FrameTest, ReadsTheUsualFormsAndCountsTheirBits)
{
    struct Case {
        const char *text;
        int dataBits;
        Frame::Parity parity;
        Frame::StopBits stop;
        int bits;
    };
    const Case cases[] = {
        {"8N1", 8, Frame::Parity::None, Frame::StopBits::One, 10},
        {"7E1", 7, Frame::Parity::Even, Frame::StopBits::One, 10},
        {"8E1", 8, Frame::Parity::Even, Frame::StopBits::One, 11},
        {"8o1", 8, Frame::Parity::Odd, Frame::StopBits::One, 11},
        {"7O2", 7, Frame::Parity::Odd, Frame::StopBits::Two, 11},
        {"5N1", 5, Frame::Parity::None, Frame::StopBits::One, 7},
        {"8M2", 8, Frame::Parity::Mark, Frame::StopBits::Two, 12},
        {"5S1.5", 5, Frame::Parity::Space, Frame::StopBits::OneAndHalf, 9},
    };
    for (const Case &c : cases) {
        const std::optional<Frame> frame = parseFrame(c.text);
        ASSERT_TRUE(frame) << c.text;
        EXPECT_EQ(c.dataBits, frame->dataBits) << c.text;
        EXPECT_EQ(c.parity, frame->parity) << c.text;
        EXPECT_EQ(c.stop, frame->stopBits) << c.text;
        EXPECT_EQ(c.bits, frame->bitsPerCharacter()) << c.text;
    }
    EXPECT_EQ("8N1", Frame{}.name());
    EXPECT_EQ("5S1.5", parseFrame("5s1.5")->name());
}

TEST(FrameTest, RefusesWhatNoUartSends)
{
    for (const char *text : {"", "8N", "9N1", "4N1", "8X1", "8N3", "8N1.0", "8N15", " 8N1", "8N1 "})
        EXPECT_FALSE(parseFrame(text)) << '"' << text << '"';
}

TEST(PatternTest, TheClassicPatternIsTenLettersAHundredTimes)
{
    const Pattern pattern = Pattern::classic();
    ASSERT_EQ(1000u, pattern.length());
    EXPECT_EQ(10, pattern.chunkSize);
    EXPECT_EQ("ABCDEFGHIJABCDEFGHIJ", pattern.bytes.substr(0, 20));
    EXPECT_EQ("ABCDEFGHIJ", pattern.bytes.substr(990));
}

} // namespace
} // namespace echotest
