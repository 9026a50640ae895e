// Links between two ends and the ranking of crystals, on cases worked out
// by hand in the comments.
#include "calculator/uart_link.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace uart = calculator::uart;

class LinkTest : public ::testing::Test
{
protected:
    uart::LinkResult link(uart::EndChoice a, uart::EndChoice b, double baud, const char *frame = "8N1")
    {
        return uart::analyseLink(a, b, baud, *echotest::parseFrame(frame), uart::standardCrystals());
    }
    static const uart::Fix *fixOf(const uart::LinkResult &result, char end, const char *kind)
    {
        for (const auto &fix : result.fixes)
            if (fix.end == end && fix.kind == kind)
                return &fix;
        return nullptr;
    }
    const uart::Family *avr = uart::findFamily("avr");
    const uart::Family *ftdi = uart::findFamily("ftdi");
};

TEST_F(LinkTest, AvrAt16MHzAgainstFtdiIsOutAndTheBaudRateCrystalFixesIt)
{
    // A: 16e6 / (16 x 9) = 111111.11; B: 3e6 / 26 = 115384.62.
    // A hears B at 115384.62 / 111111.11 - 1 = +3.85 % against 2.0 %: out by 1.85.
    // B hears A at -3.70 % against 2.30 %: out by 1.40.
    const auto result = link({avr, 16e6, "U2X=0"}, {ftdi, 0, ""}, 115200);
    ASSERT_TRUE(result.error.empty());
    EXPECT_NEAR(-3.704, result.mismatchPercent, 1e-3);
    EXPECT_NEAR(3.846, result.aReceives.deviationPercent, 1e-3);
    EXPECT_EQ(uart::Verdict::Out, result.overall.verdict);
    EXPECT_NEAR(-1.846, result.overall.marginPercent, 1e-3);
    // The nearest crystal that works is 14.7456 MHz (14.31818 gives -2.9 %).
    const uart::Fix *crystal = fixOf(result, 'A', "crystal");
    ASSERT_NE(nullptr, crystal);
    EXPECT_EQ(14745600.0, crystal->changed.clock);
    EXPECT_EQ(uart::Verdict::Ok, crystal->judgement.verdict);
    // Or the adapter aims at the AVR's true rate: 3e6 / 111111.11 = 27 exactly.
    const uart::Fix *divisor = fixOf(result, 'B', "divisor");
    ASSERT_NE(nullptr, divisor);
    EXPECT_EQ("27", divisor->changed.setting.fields[0].value);
    // U2X = 1 gives 117647.06, which A hears at -1.92 % against 1.5 %: no fix.
    EXPECT_EQ(nullptr, fixOf(result, 'A', "mode"));
}

TEST_F(LinkTest, AMarginalLinkGetsTheNearestCrystalThatIsOk)
{
    // 20 MHz: UBRR 10 -> 113636.36; A hears 115384.62 / 113636.36 - 1 = +1.54 %
    // against 2.0 %: 0.46 left, under a quarter: marginal.
    // 19.6608 MHz is nearer but only marginal itself (U2X=1, UBRR 20 ->
    // 117028.57, A hears -1.40 % of 1.5 %); 18.432 MHz is exact: OK.
    const auto result = link({avr, 20e6, ""}, {ftdi, 0, ""}, 115200);
    EXPECT_EQ(uart::Verdict::Marginal, result.overall.verdict);
    EXPECT_NEAR(0.462, result.overall.marginPercent, 1e-3);
    const uart::Fix *crystal = fixOf(result, 'A', "crystal");
    ASSERT_NE(nullptr, crystal);
    EXPECT_EQ(18432000.0, crystal->changed.clock);
}

TEST_F(LinkTest, AvrAt14M7456AgainstFtdiIsOk)
{
    // A: exactly 115200; the adapter's +0.16 % leaves 2.0 - 0.16 = 1.84 on A's side.
    const auto result = link({avr, 14745600, ""}, {ftdi, 0, ""}, 115200);
    EXPECT_EQ(uart::Verdict::Ok, result.overall.verdict);
    EXPECT_NEAR(1.840, result.overall.marginPercent, 1e-3);
    EXPECT_TRUE(result.fixes.empty());
}

TEST_F(LinkTest, TheOtherModeIsOfferedWhenItHelps)
{
    // 57600 at 16 MHz: U2X=0 gives UBRR 16 -> 58823.53 (+2.12 %); U2X=1 UBRR 34
    // -> 57142.86.  The adapter: 24e6 / 57600 = 416.7 -> 417 eighths -> 57553.96.
    // With U2X=1, A hears +0.72 % against 1.5 %: OK.
    const auto result = link({avr, 16e6, "U2X=0"}, {ftdi, 0, ""}, 57600);
    EXPECT_EQ(uart::Verdict::Out, result.overall.verdict);
    const uart::Fix *mode = fixOf(result, 'A', "mode");
    ASSERT_NE(nullptr, mode);
    EXPECT_EQ("U2X=1", mode->changed.setting.mode);
    EXPECT_EQ(uart::Verdict::Ok, mode->judgement.verdict);
}

TEST_F(LinkTest, TwoEqualEndsAgreeHoweverFarFromTheRequest)
{
    // Two AVRs at 16 MHz, U2X=0: both at 111111.11, no mismatch at all.
    const auto result = link({avr, 16e6, "U2X=0"}, {avr, 16e6, "U2X=0"}, 115200);
    EXPECT_EQ(uart::Verdict::Ok, result.overall.verdict);
    EXPECT_NEAR(2.0, result.overall.marginPercent, 1e-9);
}

TEST_F(LinkTest, TheFrameTightensTheAvrTolerance)
{
    // 20 MHz, 115200: UBRR 10 -> 113636.36 (-1.36 %) against the exact 16550 at
    // 1.8432 MHz.  8N1: 1.36 of 2.0, OK; 8E1: 1.36 of 1.5, marginal.
    const uart::Family *pc = uart::findFamily("16550");
    EXPECT_EQ(uart::Verdict::Ok, link({avr, 20e6, "U2X=0"}, {pc, 0, ""}, 115200).aReceives.judgement.verdict);
    EXPECT_EQ(uart::Verdict::Marginal,
              link({avr, 20e6, "U2X=0"}, {pc, 0, ""}, 115200, "8E1").aReceives.judgement.verdict);
}

TEST_F(LinkTest, AnEndThatCannotMakeTheRateIsNamed)
{
    const auto result = link({avr, 16e6, "U2X=7"}, {ftdi, 0, ""}, 115200);
    EXPECT_NE(std::string::npos, result.error.find("A (avr)")) << result.error;
}

TEST(ClocksTest, BaudRateCrystalsRankAbove16MHzFor115200)
{
    // 14.7456 and 18.432 MHz divide to 115200 exactly; 16 MHz's best is +2.12 %.
    const double bauds[] = {115200};
    const auto rows = uart::rankClocks(*uart::findFamily("avr"), bauds, echotest::Frame{}, uart::standardCrystals());
    const auto rank = [&](double clock) {
        return std::find_if(rows.begin(), rows.end(), [&](const auto &row) { return row.clock == clock; }) - rows.begin();
    };
    EXPECT_LT(rank(14745600), rank(16e6));
    EXPECT_LT(rank(18432000), rank(16e6));
    EXPECT_EQ(0.0, rows.front().worstErrorPercent);
    // Above the ATmega's 20 MHz nothing is offered.
    EXPECT_EQ(static_cast<long>(rows.size()), rank(22118400));
}

TEST(ClocksTest, TheWorstRateDecides)
{
    // 9600, 115200 and 250000 within 1 %: 250000 wants a multiple of 2 MHz
    // (f / (8 x 250000) whole), and of those below 20 MHz only 12 MHz makes
    // 115200 within 1 % (U2X=1: 13.02 -> 12 -> 115384.6, +0.16 %); 9600 at
    // 12 MHz: 78.125 - 1 -> 77 -> 9615.38 (+0.16 %).
    const double bauds[] = {9600, 115200, 250000};
    auto rows = uart::rankClocks(*uart::findFamily("avr"), bauds, echotest::Frame{}, uart::standardCrystals());
    std::erase_if(rows, [](const auto &row) { return row.worstErrorPercent > 1.0; });
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(12e6, rows[0].clock);
    EXPECT_NEAR(0.16, rows[0].worstErrorPercent, 0.01);
    EXPECT_EQ("12", rows[0].settings[1].fields[0].value);
}

} // namespace
