#include "calculator/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using calculator::formatFixed;
using calculator::isNumeric;
using calculator::toDouble;
using calculator::toSingle;

struct NumericCase
{
    const char *text;
    bool numeric;
};

class NumericTextTest : public testing::TestWithParam<NumericCase>
{
};

TEST_P(NumericTextTest, AcceptsOnlyPlainDecimalNumbers)
{
    EXPECT_EQ(GetParam().numeric, isNumeric(GetParam().text)) << '"' << GetParam().text << '"';
    EXPECT_EQ(GetParam().numeric, toDouble(GetParam().text).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Pasted, NumericTextTest,
    testing::Values(NumericCase{"9600", true}, NumericCase{" 9600\t", true},
                    NumericCase{"+5", true}, NumericCase{"-5", true}, NumericCase{"1.5", true},
                    NumericCase{".5", true}, NumericCase{"5.", true}, NumericCase{"1e40", true},
                    NumericCase{"1E-3", true}, NumericCase{"2.5e+3", true},
                    NumericCase{"", false}, NumericCase{" ", false}, NumericCase{".", false},
                    NumericCase{"-", false}, NumericCase{"e5", false}, NumericCase{"1e", false},
                    NumericCase{"1e+", false}, NumericCase{"0x10", false},
                    NumericCase{"inf", false}, NumericCase{"-infinity", false},
                    NumericCase{"nan", false}, NumericCase{"1,000", false},
                    NumericCase{"12a", false}, NumericCase{"--5", false},
                    NumericCase{"+-5", false}, NumericCase{"1 2", false},
                    NumericCase{"1.2.3", false}));

struct ConversionCase
{
    const char *text;
    double value;
};

class ToDoubleTest : public testing::TestWithParam<ConversionCase>
{
};

TEST_P(ToDoubleTest, ConvertsWithoutThrowing)
{
    const auto value = toDouble(GetParam().text);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(GetParam().value, *value);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToDoubleTest,
    testing::Values(ConversionCase{"14745600", 14745600.0}, ConversionCase{" +0.5 ", 0.5},
                    ConversionCase{"-5", -5.0}, ConversionCase{"1e3", 1000.0},
                    ConversionCase{"1e400", HUGE_VAL}, ConversionCase{"-1e400", -HUGE_VAL},
                    ConversionCase{"123456789e99999", HUGE_VAL},
                    ConversionCase{"1e-400", 0.0}, ConversionCase{"0.0001e-400", 0.0},
                    ConversionCase{"0e99999", 0.0}));

TEST(ToSingleTest, RefusesValuesBeyondSinglePrecision)
{
    EXPECT_FALSE(toSingle(1e40).has_value());
    EXPECT_FALSE(toSingle(-1e40).has_value());
    EXPECT_FALSE(toSingle(HUGE_VAL).has_value());
    EXPECT_FALSE(toSingle(std::numeric_limits<double>::quiet_NaN()).has_value());
    EXPECT_FALSE(toSingle(1e-40).has_value()); // would keep only a few bits
    EXPECT_EQ(0.0f, toSingle(0.0).value());
    EXPECT_EQ(33333332.0f, toSingle(33333333.0).value());
}

struct FormatCase
{
    double value;
    int decimals;
    const char *text;
};

class FormatFixedTest : public testing::TestWithParam<FormatCase>
{
};

TEST_P(FormatFixedTest, RoundsTheExactValueHalfAwayFromZero)
{
    EXPECT_EQ(GetParam().text, formatFixed(GetParam().value, GetParam().decimals));
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatFixedTest,
    testing::Values(
        FormatCase{0.625, 2, "0.63"},   // exact tie: away from zero, not to even
        FormatCase{-0.625, 2, "-0.63"},
        FormatCase{2.5, 0, "3"},
        FormatCase{0.125, 2, "0.13"},
        FormatCase{9.995, 2, "9.99"},   // 9.99499999... in binary
        FormatCase{9.999, 2, "10.00"},
        FormatCase{-9.996, 2, "-10.00"},
        FormatCase{99.995f, 2, "100.00"}, // the float holds 99.99500274...
        // a negative value keeps its sign even when its digits round to zero
        FormatCase{-0.001, 2, "-0.00"},
        FormatCase{static_cast<double>(-0.001f), 2, "-0.00"},
        FormatCase{static_cast<double>(-0.0009f), 2, "-0.00"},
        FormatCase{-0.004999, 2, "-0.00"},
        FormatCase{-0.005, 2, "-0.01"},  // the double lies just beyond -0.005
        FormatCase{-1e-300, 2, "-0.00"}, // beyond single precision: the printf path
        FormatCase{-0.0004, 3, "-0.000"},
        FormatCase{0.0009, 2, "0.00"},
        FormatCase{-0.0, 2, "0.00"},     // negative zero is no negative value
        FormatCase{-0.0, 0, "0"},
        FormatCase{-1e-300 * 1e-300, 2, "0.00"},
        FormatCase{static_cast<double>(-2.5f), 0, "-3"},
        FormatCase{static_cast<double>(666666.6875f), 2, "666666.69"},
        FormatCase{0.0, 3, "0.000"},
        FormatCase{1000000.0, 2, "1000000.00"},
        FormatCase{9615.384765625, 2, "9615.38"}, // float of 16000000 / 1664
        FormatCase{1e22, 2, "10000000000000000000000.00"},
        FormatCase{HUGE_VAL, 2, "---- "},
        FormatCase{std::numeric_limits<double>::quiet_NaN(), 2, "---- "}));

} // namespace
