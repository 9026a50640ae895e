#include "engine/rate_sweep.h"

#include <gtest/gtest.h>

namespace echotest {
namespace {

TEST(RateSweepTest, ReadsListsAndSpans)
{
    struct Case {
        const char *text;
        std::vector<std::uint32_t> rates; // empty: refused
    };
    const Case cases[] = {
        {"9600,19200,115200", {9600, 19200, 115200}},
        {"115200,9600", {115200, 9600}},
        {"31250", {31250}},
        {"300..921600", {300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800,
                         500000, 576000, 921600}},
        {"9601..19200", {19200}},
        {"2000000..4000000", {2000000, 2500000, 3000000, 3500000, 4000000}},
        {"", {}},
        {"9600,", {}},
        {",9600", {}},
        {"9600,,19200", {}},
        {"44", {}},
        {"9600.5", {}},
        {"fast", {}},
        {"19200..9600", {}},
        {"9601..9700", {}},
        {"..9600", {}},
        {"300..", {}},
        {"300...600", {}},
    };
    for (const Case &c : cases) {
        std::string error;
        const auto rates = parseSweep(c.text, error);
        if (c.rates.empty()) {
            EXPECT_FALSE(rates) << c.text;
            EXPECT_NE(std::string::npos, error.find(c.text)) << c.text << ": " << error;
        } else {
            ASSERT_TRUE(rates) << c.text << ": " << error;
            EXPECT_EQ(c.rates, *rates) << c.text;
        }
    }
}

} // namespace
} // namespace echotest
