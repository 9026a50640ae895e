// ubrr-gen's header against hand-worked datasheet values, and against
// avr-libc's <util/setbaud.h> wherever both pick the same mode.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <ostream>
#include <string>

#include "process_output.h"

using firmware::testing::quoted;
using firmware::testing::runCommand;

namespace {

struct Choice
{
    bool found = false;
    int ubrr = -1;
    int u2x = -1;
};

Choice parse(const std::string &text, const char *ubrrPattern, const char *u2xPattern)
{
    Choice choice;
    std::smatch ubrr;
    std::smatch u2x;
    if (std::regex_search(text, ubrr, std::regex(ubrrPattern)) && std::regex_search(text, u2x, std::regex(u2xPattern))) {
        choice.found = true;
        choice.ubrr = std::stoi(ubrr[1]);
        choice.u2x = std::stoi(u2x[1]);
    }
    return choice;
}

std::filesystem::path scratchHeader(const std::string &tag)
{
    return std::filesystem::path(::testing::TempDir()) / ("ubrr_config_" + tag + ".h");
}

Choice generated(unsigned long clock, unsigned long baud, int *exitCode = nullptr)
{
    const auto header = scratchHeader(std::to_string(clock) + "_" + std::to_string(baud));
    std::filesystem::remove(header);
    const auto run = runCommand(quoted(UBRR_GEN) + " " + std::to_string(clock) + " " + std::to_string(baud) + " "
                                + quoted(header.string()) + " 2>/dev/null");
    if (exitCode)
        *exitCode = run.exitCode;
    const auto text = runCommand("cat " + quoted(header.string()) + " 2>/dev/null").out;
    return parse(text, R"(#define ECHO_UBRR_VALUE (\d+)u)", R"(#define ECHO_USE_U2X (\d))");
}

// The value of a constant in avr-gcc's assembly: ".word 95", or ".zero 2" for 0.
int assembledValue(const std::string &assembly, const std::string &symbol)
{
    std::smatch m;
    if (!std::regex_search(assembly, m, std::regex(symbol + R"(:\s*\.(?:word|byte)\s+(\d+))")))
        return std::regex_search(assembly, std::regex(symbol + R"(:\s*\.zero\s)")) ? 0 : -1;
    return std::stoi(m[1]);
}

Choice fromSetbaud(unsigned long clock, unsigned long baud)
{
    const auto run = runCommand(quoted(AVR_GCC) + " -mmcu=atmega328p -DF_CPU=" + std::to_string(clock)
                                + "UL -DBAUD=" + std::to_string(baud) + "UL -S -o - " + quoted(SETBAUD_PROBE)
                                + " 2>/dev/null");
    Choice choice;
    choice.ubrr = assembledValue(run.out, "setbaudUbrr");
    choice.u2x = assembledValue(run.out, "setbaudUse2x");
    choice.found = choice.ubrr >= 0 && choice.u2x >= 0;
    return choice;
}

struct Row
{
    const char *name;
    unsigned long clock;
    unsigned long baud;
    int ubrr;           // worked out by hand, datasheet tables where they list it
    int u2x;
    bool setbaudAgrees; // avr-libc picks the same mode (it prefers U2X = 0 within 2 %)
};

void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }

class UbrrHeader : public ::testing::TestWithParam<Row> {};

TEST_P(UbrrHeader, MatchesHandValuesAndSetbaudInTheSameMode)
{
    const Row &row = GetParam();
    int exitCode = -1;
    const Choice ours = generated(row.clock, row.baud, &exitCode);
    ASSERT_EQ(0, exitCode);
    ASSERT_TRUE(ours.found);
    EXPECT_EQ(row.ubrr, ours.ubrr);
    EXPECT_EQ(row.u2x, ours.u2x);

    const Choice libc = fromSetbaud(row.clock, row.baud);
    ASSERT_TRUE(libc.found) << "avr-gcc could not evaluate <util/setbaud.h>";
    EXPECT_EQ(row.setbaudAgrees, libc.u2x == ours.u2x);
    if (libc.u2x == ours.u2x) {
        EXPECT_EQ(libc.ubrr, ours.ubrr);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, UbrrHeader,
    ::testing::Values(
        Row{"exact_9600", 14745600, 9600, 95, 0, true},
        Row{"exact_38400", 14745600, 38400, 23, 0, true},
        Row{"exact_115200", 14745600, 115200, 7, 0, true},
        Row{"exact_921600", 14745600, 921600, 0, 0, true},
        Row{"modes_tie_16MHz_9600", 16000000, 9600, 103, 0, true},
        Row{"normal_too_far_16MHz_115200", 16000000, 115200, 16, 1, true},
        Row{"only_double_speed_near_1MHz_9600", 1000000, 9600, 12, 1, true},
        Row{"exact_20MHz_250000", 20000000, 250000, 4, 0, true},
        Row{"double_speed_nearer_20MHz_57600", 20000000, 57600, 42, 1, false}),
    [](const auto &info) { return std::string(info.param.name); });

struct Refusal
{
    const char *name;
    const char *arguments;
    int exitCode;
};

void PrintTo(const Refusal &row, std::ostream *out) { *out << row.name; }

class UbrrGenRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(UbrrGenRefuses, WritesNoHeader)
{
    const Refusal &row = GetParam();
    const auto header = scratchHeader(row.name);
    std::filesystem::remove(header);
    const auto run = runCommand(quoted(UBRR_GEN) + " " + row.arguments + " " + quoted(header.string()) + " 2>/dev/null");
    EXPECT_EQ(row.exitCode, run.exitCode);
    EXPECT_FALSE(std::filesystem::exists(header));
}

INSTANTIATE_TEST_SUITE_P(Inputs, UbrrGenRefuses,
    ::testing::Values(
        Refusal{"rate_too_low_for_12_bits", "14745600 45", 1},
        Refusal{"nearest_rate_unusable_1MHz_250000", "1000000 250000", 1},
        Refusal{"zero_rate", "14745600 0", 1},
        Refusal{"rate_not_a_number", "14745600 fast", 2},
        Refusal{"negative_clock", "-16000000 9600", 2}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
