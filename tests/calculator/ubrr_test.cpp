#include "calculator/ubrr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using calculator::CalcResult;
using calculator::CalcStatus;
using calculator::ModeResult;

// Expected captions of one mode: UBRRn, rate, error, UBRRnH, UBRRnL.
struct ModeCaptions
{
    const char *reg;
    const char *rate;
    const char *error;
    const char *high;
    const char *low;
};

struct CalculateCase
{
    const char *name;
    const char *frequency;
    const char *baud;
    ModeCaptions normal;
    ModeCaptions doubleSpeed;
    int selectedLine;
};

void PrintTo(const CalculateCase &c, std::ostream *os) { *os << c.name; }

void expectCaptions(const ModeCaptions &expected, const ModeResult &actual)
{
    EXPECT_EQ(expected.reg, actual.registerText);
    EXPECT_EQ(expected.rate, actual.rateText);
    EXPECT_EQ(expected.error, actual.errorText);
    EXPECT_EQ(expected.high, actual.highText);
    EXPECT_EQ(expected.low, actual.lowText);
}

class CalculateTest : public testing::TestWithParam<CalculateCase>
{
};

TEST_P(CalculateTest, ShowsBothModesAndSelectsTheBetterLine)
{
    const CalculateCase &c = GetParam();
    const CalcResult result = calculator::calculate(c.frequency, c.baud);
    ASSERT_EQ(CalcStatus::Ok, result.status);
    {
        SCOPED_TRACE("U2Xn = 0");
        expectCaptions(c.normal, result.normal);
    }
    {
        SCOPED_TRACE("U2Xn = 1");
        expectCaptions(c.doubleSpeed, result.doubleSpeed);
    }
    EXPECT_EQ(c.selectedLine, result.selectedLine);
}

// Expected values worked out by hand from rate = f / (16 or 8 x (UBRRn + 1))
// in single precision, and matching the AVR datasheet baud tables.
INSTANTIATE_TEST_SUITE_P(
    Cases, CalculateTest,
    testing::Values(
        // equal deviations: U2Xn = 0 wins
        CalculateCase{"16MHz_9600", "16000000", "9600", {"103", "9615.38", "0.16 %", "0", "103"},
                      {"207", "9615.38", "0.16 %", "0", "207"}, 206},
        CalculateCase{"14_7456MHz_115200", "14745600", "115200",
                      {"7", "115200.00", "0.00 %", "0", "7"},
                      {"15", "115200.00", "0.00 %", "0", "15"}, 14},
        // x = 0.33 rounds to 0, but 1000000 and 500000 are equally far: u + 1 wins
        CalculateCase{"16MHz_750000_tie", "16000000", "750000",
                      {"1", "500000.00", "-33.33 %", "0", "1"},
                      {"2", "666666.69", "-11.11 %", "0", "2"}, 5},
        CalculateCase{"16MHz_2000000", "16000000", "2000000",
                      {"0", "1000000.00", "-50.00 %", "0", "0"},
                      {"0", "2000000.00", "0.00 %", "0", "0"}, 1},
        // far below what 4095 allows: clamped, large positive error, no "Out of range"
        CalculateCase{"16MHz_50_clamped", "16000000", "50",
                      {"4095", "244.14", "388.28 %", "15", "255"},
                      {"4095", "488.28", "876.56 %", "15", "255"}, 8190},
        CalculateCase{"8MHz_250000", "8000000", "250000", {"1", "250000.00", "0.00 %", "0", "1"},
                      {"3", "250000.00", "0.00 %", "0", "3"}, 2},
        CalculateCase{"20MHz_19200", "20000000", "19200", {"64", "19230.77", "0.16 %", "0", "64"},
                      {"129", "19230.77", "0.16 %", "0", "129"}, 128},
        CalculateCase{"1MHz_2400", "1000000", "2400",
                      {"25", "2403.85", "0.16 %", "0", "25"},
                      {"51", "2403.85", "0.16 %", "0", "51"}, 50},
        CalculateCase{"1MHz_4800", "1000000", "4800", {"12", "4807.69", "0.16 %", "0", "12"},
                      {"25", "4807.69", "0.16 %", "0", "25"}, 24},
        CalculateCase{"1MHz_115200_double_better", "1000000", "115200",
                      {"0", "62500.00", "-45.75 %", "0", "0"},
                      {"0", "125000.00", "8.51 %", "0", "0"}, 1},
        // 256 = 0x100: high half 1, low half 0
        CalculateCase{"16MHz_3900_high_bits", "16000000", "3900",
                      {"255", "3906.25", "0.16 %", "0", "255"},
                      {"512", "3898.64", "-0.03 %", "2", "0"}, 1025},
        // an error a hair below zero keeps its sign; one a hair above does not get one
        CalculateCase{"14_7456MHz_115201_just_below", "14745600", "115201",
                      {"7", "115200.00", "-0.00 %", "0", "7"},
                      {"15", "115200.00", "-0.00 %", "0", "15"}, 14},
        CalculateCase{"14_7456MHz_115199_just_above", "14745600", "115199",
                      {"7", "115200.00", "0.00 %", "0", "7"},
                      {"15", "115200.00", "0.00 %", "0", "15"}, 14},
        // pasted texts with blanks, sign and exponent convert like plain digits
        CalculateCase{"pasted_forms", " +1.6e7 ", "9.6E3", {"103", "9615.38", "0.16 %", "0", "103"},
                      {"207", "9615.38", "0.16 %", "0", "207"}, 206},
        // an oscillator above ~809 GHz puts the best value just past the register
        CalculateCase{"out_of_range", "1000000000000", "1",
                      {"Out of range", "---- ", "---- ", "---- ", "---- "},
                      {"Out of range", "---- ", "---- ", "---- ", "---- "}, 0}),
    [](const testing::TestParamInfo<CalculateCase> &info) { return std::string(info.param.name); });

struct FailureCase
{
    const char *frequency;
    const char *baud;
    CalcStatus status;
};

class CalculateFailureTest : public testing::TestWithParam<FailureCase>
{
};

TEST_P(CalculateFailureTest, NeverShowsGarbage)
{
    const FailureCase &c = GetParam();
    EXPECT_EQ(c.status, calculator::calculate(c.frequency, c.baud).status)
        << '"' << c.frequency << "\" / \"" << c.baud << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CalculateFailureTest,
    testing::Values(
        FailureCase{"", "9600", CalcStatus::NoFrequency},
        FailureCase{"0", "abc", CalcStatus::NoFrequency}, // the rate is not examined
        FailureCase{"0.0e5", "9600", CalcStatus::NoFrequency},
        FailureCase{"inf", "9600", CalcStatus::NoFrequency},
        FailureCase{"nan", "9600", CalcStatus::NoFrequency},
        FailureCase{"1e-400", "9600", CalcStatus::NoFrequency}, // zero in double
        FailureCase{"16000000", "", CalcStatus::NoBaud},
        FailureCase{"16000000", " ", CalcStatus::NoBaud},
        FailureCase{"16000000", "0", CalcStatus::NoBaud},
        // u = -1 for U2Xn = 0 would divide by zero
        FailureCase{"16000000", "9000000", CalcStatus::Error},
        FailureCase{"16000000", "7000000", CalcStatus::Error},
        FailureCase{"1e40", "9600", CalcStatus::Error},
        FailureCase{"16000000", "1e40", CalcStatus::Error},
        FailureCase{"1e400", "9600", CalcStatus::Error},
        FailureCase{"99999999999999999999999999999999999999999", "9600", CalcStatus::Error},
        FailureCase{"1e-40", "9600", CalcStatus::Error},
        FailureCase{"3e38", "1e-30", CalcStatus::Error}, // f / (16 x b) overflows
        FailureCase{"-5", "9600", CalcStatus::Error},
        FailureCase{"16000000", "-9600", CalcStatus::Error}));

TEST(ChooseRegisterTest, CandidateOutsideTheRegisterCountsAsFarAway)
{
    // 6.7 MHz requested from 16 MHz: 1 MHz (u = 0) is nearer than 12345678.
    EXPECT_EQ(0, calculator::chooseRegister(16000000.0f, 6600000.0f, 16).value());
    // 7 MHz: the stand-in rate 12345678 is nearer than 1 MHz, so u - 1.
    EXPECT_EQ(-1, calculator::chooseRegister(16000000.0f, 7000000.0f, 16).value());
    // U2Xn = 1 reaches -1 only above about 7.2 MHz.
    EXPECT_EQ(0, calculator::chooseRegister(16000000.0f, 7100000.0f, 8).value());
    EXPECT_EQ(-1, calculator::chooseRegister(16000000.0f, 7300000.0f, 8).value());
}

struct LineCase
{
    int index;
    const char *text;
};

class ListLineTest : public testing::TestWithParam<LineCase>
{
};

TEST_P(ListLineTest, SixteenMegahertzList)
{
    static const std::vector<std::string> lines = calculator::listLines(16000000.0f);
    ASSERT_EQ(8192u, lines.size());
    EXPECT_EQ(GetParam().text, lines.at(static_cast<std::size_t>(GetParam().index)));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListLineTest,
    testing::Values(
        LineCase{0, " UBRRn value = 0          U2Xn = 0          Baud rate = 1000000.00"},
        LineCase{1, " UBRRn value = 0          U2Xn = 1          Baud rate = 2000000.00"},
        LineCase{2, " UBRRn value = 1          U2Xn = 0          Baud rate = 500000.00"},
        LineCase{3, " UBRRn value = 1          U2Xn = 1          Baud rate = 1000000.00"},
        LineCase{206, " UBRRn value = 103          U2Xn = 0          Baud rate = 9615.38"},
        LineCase{415, " UBRRn value = 207          U2Xn = 1          Baud rate = 9615.38"},
        LineCase{8190, " UBRRn value = 4095          U2Xn = 0          Baud rate = 244.14"},
        LineCase{8191, " UBRRn value = 4095          U2Xn = 1          Baud rate = 488.28"}));

TEST(ListLineTest, SelectedLineOfACalculationIsItsRegisterAndMode)
{
    const auto result = calculator::calculate("14745600", "115200");
    EXPECT_EQ(" UBRRn value = 7          U2Xn = 0          Baud rate = 115200.00",
              calculator::listLines(result.frequency).at(14));
}

struct ReadBackCase
{
    const char *line;
    const char *registerText;
};

class ReadBackTest : public testing::TestWithParam<ReadBackCase>
{
};

TEST_P(ReadBackTest, TakesFourCharactersFromTheSixteenth)
{
    EXPECT_EQ(GetParam().registerText, calculator::registerTextOfLine(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadBackTest,
    testing::Values(
        ReadBackCase{" UBRRn value = 7          U2Xn = 0          Baud rate = 115200.00", "7"},
        ReadBackCase{" UBRRn value = 103          U2Xn = 0          Baud rate = 9615.38", "103"},
        ReadBackCase{" UBRRn value = 4095          U2Xn = 1          Baud rate = 488.28", "4095"},
        ReadBackCase{" UBRRn value = ", ""}, ReadBackCase{"", ""}));

struct CaptionCase
{
    const char *text;
    const char *caption;
};

class FrequencyCaptionTest : public testing::TestWithParam<CaptionCase>
{
};

TEST_P(FrequencyCaptionTest, KilohertzBelowSevenCharactersMegahertzFromSeven)
{
    EXPECT_EQ(GetParam().caption, calculator::frequencyCaption(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FrequencyCaptionTest,
    testing::Values(CaptionCase{"32768", "32.768 kHz"}, CaptionCase{"0", "0.000 kHz"},
                    CaptionCase{"921600", "921.600 kHz"}, CaptionCase{"1843200", "1.843200 MHz"},
                    CaptionCase{"14745600", "14.745600 MHz"}, CaptionCase{"1000000", "1.000000 MHz"},
                    CaptionCase{"33333333", "33.333332 MHz"}, // single precision shows
                    CaptionCase{"99999999", "100.000000 MHz"},
                    CaptionCase{"1e40", "Out of range"}, CaptionCase{"1e400", "Out of range"},
                    CaptionCase{"-1e40", "Out of range"},
                    CaptionCase{"99999999999999999999999999999999999999999", "Out of range"},
                    CaptionCase{"-5", "-0.005 kHz"}, CaptionCase{"", "0.000 kHz"}));

} // namespace
