#include "engine/baud_selection.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "support/comma_locale.h"

namespace {

using echotest::BaudTextCheck;

// ---- minimum transmission time ---------------------------------------------

struct TimeCase {
    float baud;
    int32_t ms;
};

class MinTransmitTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(MinTransmitTimeTest, MatchesPublishedTime)
{
    EXPECT_EQ(GetParam().ms, echotest::minTransmitTime(GetParam().baud)) << "baud " << GetParam().baud;
}

// Times for every list item, worked out by hand: 10,000,000 / baud, rounded.
INSTANTIATE_TEST_SUITE_P(ListedRates, MinTransmitTimeTest,
                         ::testing::Values(TimeCase{50, 200000}, TimeCase{75, 133333}, TimeCase{110, 90909},
                                           TimeCase{134, 74627}, TimeCase{150, 66667}, TimeCase{200, 50000},
                                           TimeCase{300, 33333}, TimeCase{600, 16667}, TimeCase{1200, 8333},
                                           TimeCase{1800, 5556}, TimeCase{2000, 5000}, TimeCase{2400, 4167},
                                           TimeCase{3600, 2778}, TimeCase{4800, 2083}, TimeCase{7200, 1389},
                                           TimeCase{9600, 1042}, TimeCase{19200, 521}, TimeCase{38400, 260},
                                           TimeCase{57600, 174}, TimeCase{115200, 87}, TimeCase{230400, 43},
                                           TimeCase{460800, 22}, TimeCase{921600, 11}));

// Halves go to the even neighbour; the extremes of a seven-digit text fit.
INSTANTIATE_TEST_SUITE_P(TypedRates, MinTransmitTimeTest,
                         ::testing::Values(TimeCase{800000, 12}, TimeCase{4000000, 2}, TimeCase{9999999, 1},
                                           TimeCase{1, 10000000}, TimeCase{3, 3333333}, TimeCase{45, 222222},
                                           TimeCase{2.5f, 4000000}));

// No time for rates that are not positive, nor for rates so small that the
// time would not fit 32 bits (instead of a wrapped-around value).
INSTANTIATE_TEST_SUITE_P(NoTime, MinTransmitTimeTest,
                         ::testing::Values(TimeCase{0, 0}, TimeCase{-0.0f, 0}, TimeCase{-5, 0},
                                           TimeCase{0.001f, 0}, TimeCase{0.0001f, 0}, TimeCase{1e-30f, 0}));

TEST(MinTransmitTimeCaptionTest, ShowsMillisecondsOrDashes)
{
    EXPECT_EQ("1042 ms", echotest::minTransmitTimeCaption(1042));
    EXPECT_EQ("10000000 ms", echotest::minTransmitTimeCaption(10000000));
    EXPECT_EQ("----- ms", echotest::minTransmitTimeCaption(0));
}

TEST(BaudListTest, HoldsTheRatesInOrderWith9600AsDefault)
{
    ASSERT_EQ(23u, echotest::kBaudRateItems.size());
    EXPECT_EQ("50", echotest::kBaudRateItems.front());
    EXPECT_EQ("921600", echotest::kBaudRateItems.back());
    EXPECT_EQ("9600", echotest::kBaudRateItems[echotest::kDefaultBaudIndex]);
    EXPECT_EQ("1", echotest::kPortItems[echotest::kDefaultPortIndex]);
    for (std::size_t i = 1; i < echotest::kBaudRateItems.size(); ++i)
        EXPECT_LT(std::stol(std::string(echotest::kBaudRateItems[i - 1])),
                  std::stol(std::string(echotest::kBaudRateItems[i])));
}

// ---- number test and value -------------------------------------------------

struct NumberCase {
    const char *text;
    bool isNumber;
    float value;
};

class BaudNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(BaudNumberTest, ClassifiesAndConverts)
{
    const NumberCase &c = GetParam();
    EXPECT_EQ(c.isNumber, echotest::isBaudNumber(c.text)) << '"' << c.text << '"';
    EXPECT_FLOAT_EQ(c.value, echotest::baudValue(c.text)) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BaudNumberTest,
    ::testing::Values(NumberCase{"9600", true, 9600}, NumberCase{"0", true, 0}, NumberCase{"0000", true, 0},
                      NumberCase{"-5", true, -5}, NumberCase{"+5", true, 5}, NumberCase{"12.5", true, 12.5f},
                      NumberCase{".5", true, 0.5f}, NumberCase{"5.", true, 5}, NumberCase{" 300 ", true, 300},
                      NumberCase{"\t42", true, 42}, NumberCase{"", false, 0}, NumberCase{"   ", false, 0},
                      NumberCase{"12a", false, 0}, NumberCase{"a12", false, 0}, NumberCase{"-", false, 0},
                      NumberCase{".", false, 0}, NumberCase{"1.2.3", false, 0}, NumberCase{"--5", false, 0},
                      NumberCase{"1 2", false, 0}, NumberCase{"1e3", false, 0}, NumberCase{"1,200", false, 0},
                      NumberCase{"0x10", false, 0}, NumberCase{"nan", false, 0}, NumberCase{"inf", false, 0}));

// ---- one reading for every user of the rate --------------------------------

struct ReadingCase {
    const char *text;
    bool isNumber;
    int32_t wholeRate;
    int32_t lineTimeMs;
};

class ReadBaudTextTest : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(ReadBaudTextTest, GivesTheWholeRateAndTheLineTime)
{
    const ReadingCase &c = GetParam();
    const echotest::BaudReading reading = echotest::readBaudText(c.text);
    EXPECT_EQ(c.text, reading.text);
    EXPECT_EQ(c.isNumber, reading.isNumber);
    EXPECT_EQ(c.wholeRate, reading.wholeRate);
    EXPECT_EQ(c.lineTimeMs, reading.lineTimeMs);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadBaudTextTest,
    ::testing::Values(ReadingCase{"9600", true, 9600, 1042}, ReadingCase{"-5", true, -5, 0},
                      ReadingCase{"44.5", true, 44, 224719},        // halves to the even neighbour
                      ReadingCase{"45.5", true, 46, 219780},
                      ReadingCase{"9600.5", true, 9600, 1042},      // what a pasted decimal rate runs at
                      ReadingCase{" +300 ", true, 300, 33333},
                      ReadingCase{"99999999999", true, INT32_MAX, 0}, // pinned; far below a millisecond
                      ReadingCase{"12a", false, 0, 0}, ReadingCase{"", false, 0, 0},
                      ReadingCase{"9e3", false, 0, 0}, ReadingCase{"9600,5", false, 0, 0}));

// A pasted "9600.5" means the same in every locale: Label12 and the run
// read it alike, also where the C library's decimal separator is a comma.
TEST(ReadBaudTextLocaleTest, CommaDecimalLocaleChangesNothing)
{
    const echotest::BaudReading before = echotest::readBaudText("9600.5");
    support::CommaDecimalLocale comma;
    if (!comma.available())
        GTEST_SKIP() << "no comma-decimal locale on this machine (LOCPATH unset?)";
    ASSERT_EQ(1.5, std::strtod("1,5", nullptr)); // the locale really is in force
    const echotest::BaudReading after = echotest::readBaudText("9600.5");
    EXPECT_TRUE(after.isNumber);
    EXPECT_EQ(before.wholeRate, after.wholeRate);
    EXPECT_EQ(before.lineTimeMs, after.lineTimeMs);
    EXPECT_EQ(1042, after.lineTimeMs);
    EXPECT_EQ(9600, after.wholeRate);
    EXPECT_FALSE(echotest::readBaudText("9600,5").isNumber);
    EXPECT_EQ(1042, echotest::checkBaudText("9600.5").reading.lineTimeMs);
}

// ---- edit rules ------------------------------------------------------------

struct EditCase {
    const char *name;
    const char *typed;
    const char *shown;
    bool replacedByZero;
    bool truncated;
    int32_t ms;
};

class CheckBaudTextTest : public ::testing::TestWithParam<EditCase> {};

TEST_P(CheckBaudTextTest, CorrectsTextAndComputesTime)
{
    const EditCase &c = GetParam();
    const BaudTextCheck check = echotest::checkBaudText(c.typed);
    EXPECT_EQ(c.shown, check.reading.text);
    EXPECT_EQ(c.replacedByZero, check.replacedByZero);
    EXPECT_EQ(c.truncated, check.truncated);
    EXPECT_EQ(c.ms, check.reading.lineTimeMs);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, CheckBaudTextTest,
    ::testing::Values(EditCase{"Plain", "9600", "9600", false, false, 1042},
                      EditCase{"SevenDigits", "9999999", "9999999", false, false, 1},
                      EditCase{"EighthDigitCut", "96001234", "9600123", false, true, 1},
                      EditCase{"EighthDigitInMiddleCut", "12934567", "1293456", false, true, 8},
                      EditCase{"LastDigitDeleted", "", "0", true, false, 0},
                      EditCase{"ZerosOnly", "000", "000", false, false, 0},
                      EditCase{"PastedLetter", "12a", "0", true, false, 0},
                      EditCase{"LongNonNumberIsZeroNotCut", "12345678a", "0", true, false, 0},
                      EditCase{"PastedNegative", "-5", "-5", false, false, 0},
                      EditCase{"PastedDecimal", "800000.", "800000.", false, false, 12},
                      EditCase{"PastedBlanks", " 9600 ", " 9600 ", false, false, 1042},
                      EditCase{"CutLeavesOnlySign", "      -5", "0", true, true, 0},
                      EditCase{"TinyFractionHasNoTime", "0.00001", "0.00001", false, false, 0}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
