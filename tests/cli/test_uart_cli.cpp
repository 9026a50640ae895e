// rebounce-cli calc --uart, link and clocks: the command lines a user
// types, their exit statuses and what they print.  The arithmetic itself
// is checked in tests/calculator; here the numbers only show that the
// right family, clock, mode and frame reached it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_app.h"
#include "cli/exit_status.h"

namespace {

using nlohmann::json;

struct Output
{
    int status;
    std::string out;
    std::string err;
};

Output runCli(std::vector<const char *> args)
{
    args.insert(args.begin(), "rebounce-cli");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = cli::run(static_cast<int>(args.size()), const_cast<char **>(args.data()));
    std::string out = testing::internal::GetCapturedStdout();
    return {status, out, testing::internal::GetCapturedStderr()};
}

TEST(UartCalcTest, EveryFamilyAnswersInJson)
{
    struct Case {
        std::vector<const char *> args;
        const char *mode;
        const char *field;
        const char *value;
    };
    const Case cases[] = {
        {{"--uart", "stm32", "--clock", "72000000", "--baud", "115200"}, "OVER8=0", "BRR", "0x0271"},
        {{"--uart", "ftdi", "--baud", "115200"}, "", "divisor", "26"},
        {{"--uart", "16550", "--baud", "9600"}, "", "divisor", "12"},
        {{"--uart", "pic", "--clock", "16000000", "--baud", "115200"}, "BRGH=1 BRG16=1", "SPBRGH:SPBRG", "34"},
        {{"--uart", "esp32", "--baud", "115200"}, "", "CLKDIV", "694"},
        {{"--uart", "avr", "--clock", "1.6e7", "--baud", "9600"}, "U2X=0", "UBRRn", "103"},
    };
    for (const Case &c : cases) {
        std::vector<const char *> args = {"calc", "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Output output = runCli(args);
        ASSERT_EQ(cli::kExitOk, output.status) << output.err;
        const json answer = json::parse(output.out);
        bool seen = false;
        for (const json &setting : answer["settings"])
            if (setting["mode"] == c.mode) {
                EXPECT_EQ(c.value, setting["registers"][c.field]) << c.field;
                seen = true;
            }
        EXPECT_TRUE(seen) << c.mode;
    }
}

TEST(UartCalcTest, TextShowsTheVerdictWithItsMargin)
{
    // 16 MHz, 115200: UBRR 8 -> -3.55 % against the datasheet's 2.0 %.
    const Output output = runCli({"calc", "--uart", "avr", "--clock", "16000000", "--baud", "115200"});
    EXPECT_EQ(cli::kExitOk, output.status);
    EXPECT_NE(std::string::npos,
              output.out.find("  U2X=0: UBRRn 8, UBRRnH 0, UBRRnL 8; rate 111111.11, error -3.55 %; tolerance "
                              "+/-2.00 % (datasheet, normal speed, 8 data and parity bits): out (margin -1.55 %)"))
        << output.out;
    EXPECT_NE(std::string::npos, output.out.find("Nearest: U2X=1")) << output.out;
}

TEST(UartLinkTest, AvrAt16MHzIsOutAgainstFtdiAndInAt14M7456)
{
    const Output out16 = runCli({"link", "--a", "avr:16000000:U2X=0", "--b", "ftdi", "--baud", "115200", "--json"});
    EXPECT_EQ(cli::kExitFailed, out16.status);
    const json link16 = json::parse(out16.out);
    EXPECT_EQ("out", link16["verdict"]);
    EXPECT_EQ("U2X=0", link16["a"]["setting"]["mode"]);
    bool crystal = false;
    for (const json &fix : link16["fixes"])
        crystal = crystal || (fix["kind"] == "crystal" && fix["clock"] == 14745600.0);
    EXPECT_TRUE(crystal) << out16.out;

    const Output out147 = runCli({"link", "--a", "avr:14745600", "--b", "ftdi", "--baud", "115200"});
    EXPECT_EQ(cli::kExitOk, out147.status);
    EXPECT_EQ("Link at 115200 baud, frame 8N1\n"
              "A: avr at 14.7456 MHz, U2X=0: UBRRn 7, UBRRnH 0, UBRRnL 7; rate 115200.00 (+0.00 %)\n"
              "B: ftdi: divisor 26, encoded 0x0001A; rate 115384.62 (+0.16 %)\n"
              "Mismatch: A runs -0.16 % from B\n"
              "A receives B at +0.16 % against +/-2.00 %: OK (margin 1.84 %)\n"
              "B receives A at -0.16 % against +/-2.30 %: OK (margin 2.14 %)\n"
              "Verdict: OK (margin 1.84 %)\n",
              out147.out);
}

TEST(UartLinkTest, TheFrameReachesTheVerdict)
{
    // 8E1: nine data and parity bits, the AVR's 1.5 %.
    const Output output = runCli({"link", "--a", "avr:14745600", "--b", "ftdi", "--baud", "115200", "--frame", "8E1",
                                  "--json"});
    EXPECT_EQ(1.5, json::parse(output.out)["a_receives"]["tolerance_percent"]);
}

TEST(UartClocksTest, RanksTheBaudRateCrystalsFirst)
{
    const Output output = runCli({"clocks", "--uart", "avr", "--baud", "115200", "--json"});
    ASSERT_EQ(cli::kExitOk, output.status) << output.err;
    std::vector<double> order;
    const json ranking = json::parse(output.out);
    for (const json &row : ranking["clocks"])
        order.push_back(row["clock"]);
    const auto at = [&](double clock) { return std::find(order.begin(), order.end(), clock) - order.begin(); };
    EXPECT_LT(at(14745600), at(16000000));
    EXPECT_LT(at(18432000), at(16000000));

    // An added clock takes part; nothing within 0.1 % for 250000 and 115200 at once.
    const Output added = runCli({"clocks", "--uart", "avr", "--baud", "115200", "--add", "7372800,1234567", "--json"});
    EXPECT_NE(std::string::npos, added.out.find("1234567")) << added.out;
    EXPECT_EQ(cli::kExitFailed, runCli({"clocks", "--uart", "avr", "--baud", "115200,250000", "--max-error", "0.1"}).status);
}

TEST(UartUsageTest, HelpsListTheExitStatusesAndTheFamilies)
{
    for (const char *command : {"link", "clocks"}) {
        const Output help = runCli({command, "--help"});
        EXPECT_EQ(cli::kExitOk, help.status);
        EXPECT_NE(std::string::npos, help.out.find("link judged the line out")) << help.out;
    }
    EXPECT_NE(std::string::npos, runCli({"calc", "--help"}).out.find("ftdi-h")) << "calc --help names the families";
}

TEST(UartUsageTest, BadValuesAreUsageErrors)
{
    const std::vector<std::vector<const char *>> lines = {
        {"calc", "--uart", "z80", "--clock", "1000000", "--baud", "9600"},
        {"calc", "--uart", "avr", "--baud", "9600"},                          // the AVR needs its clock
        {"calc", "--uart", "ftdi", "--clock", "48000000", "--baud", "9600"},  // the adapter has its own
        {"calc", "--uart", "avr", "--clock", "16000000", "--baud", "-9600"},
        {"calc", "--clock", "16000000", "--baud", "9600", "--frame", "8E1"}, // --frame only with --uart
        {"calc", "--baud", "9600"},
        {"link", "--a", "avr:16000000", "--b", "ftdi", "--baud", "115200", "--frame", "9N1"},
        {"link", "--a", "avr:sixteen", "--b", "ftdi", "--baud", "115200"},
        {"clocks", "--uart", "ftdi", "--baud", "115200"}, // nothing to fit
        {"clocks", "--uart", "avr", "--baud", "115200,x"},
    };
    for (const auto &line : lines)
        EXPECT_EQ(cli::kExitUsage, runCli(line).status) << line[0] << ' ' << line[2];
}

} // namespace
