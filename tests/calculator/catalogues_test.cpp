#include "calculator/catalogues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

long long valueOf(std::string_view text)
{
    long long value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : -1;
}

TEST(CataloguesTest, DefaultsName14745600And9600)
{
    ASSERT_EQ(12u, calculator::standardFrequencies().size());
    ASSERT_EQ(71u, calculator::extendedFrequencies().size());
    ASSERT_EQ(32u, calculator::baudRates().size());
    EXPECT_EQ("14745600", calculator::standardFrequencies()[calculator::kStandardFrequencyDefault]);
    EXPECT_EQ("14745600", calculator::extendedFrequencies()[calculator::kExtendedFrequencyDefault]);
    EXPECT_EQ("9600", calculator::baudRates()[calculator::kBaudRateDefault]);
}

TEST(CataloguesTest, EntriesArePlainIntegersInAscendingOrder)
{
    for (auto list : {calculator::standardFrequencies(), calculator::extendedFrequencies(),
                      calculator::baudRates()}) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_GT(valueOf(list[i]), 0) << list[i];
            if (i > 0) {
                EXPECT_LT(valueOf(list[i - 1]), valueOf(list[i])) << list[i];
            }
        }
    }
}

TEST(CataloguesTest, ExtendedListHoldsTheStandardOnesAndTheEnds)
{
    const auto extended = calculator::extendedFrequencies();
    for (auto entry : calculator::standardFrequencies())
        EXPECT_NE(extended.end(), std::find(extended.begin(), extended.end(), entry)) << entry;
    EXPECT_EQ("32768", extended.front());
    EXPECT_EQ("40000000", extended.back());
    EXPECT_EQ("1000000", calculator::baudRates().back());
    EXPECT_EQ("50", calculator::baudRates().front());
}

} // namespace
