// The echo test (rebounce-cli) against the firmware running on a simulated
// AVR: verdicts for each build, the line time, and the board's own life
// cycle (reopened terminal, clean stop).
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "process_output.h"
#include "simulated_board.h"

using firmware::testing::quoted;
using firmware::testing::runCommand;
using firmware::testing::SimulatedBoard;
using firmware::testing::simulatedLineMs;

namespace {

std::string elfOf(const std::string &firmware)
{
    return std::string(FIRMWARE_DIR) + "/" + firmware + "/" + firmware + ".elf";
}

struct EchoRun
{
    int exitCode = -1;
    std::string verdict;
    long received = -1;
    long lastReadMs = -1;
    std::string output;
};

EchoRun echo(const SimulatedBoard &board, int baud, bool lowerCase)
{
    // timeout(1) bounds a front end that would hang; the run itself takes
    // at most the line time plus its own time-out.
    const std::string command = "timeout -k 5 60 " + quoted(REBOUNCE_CLI) + " echo --device " + quoted(board.path())
        + " --baud " + std::to_string(baud) + (lowerCase ? " --lowercase" : "") + " --json";
    const auto run = runCommand(command);
    EchoRun result;
    result.exitCode = run.exitCode;
    result.output = run.out;
    const auto json = nlohmann::json::parse(run.out.substr(0, run.out.find('\n')), nullptr, false);
    if (!json.is_discarded() && json.is_object()) {
        result.verdict = json.value("verdict", "");
        result.received = json.value("received", -1L);
        result.lastReadMs = json.value("last_read_ms", -1L);
    }
    return result;
}

struct Case
{
    const char *name;
    const char *firmware;
    const char *mcu;
    int baud;
    bool lowerCaseOption;
    const char *verdict;
};

void PrintTo(const Case &row, std::ostream *out) { *out << row.name; }

class BoardEcho : public ::testing::TestWithParam<Case> {};

TEST_P(BoardEcho, Verdict)
{
    const Case &c = GetParam();
    SimulatedBoard board({elfOf(c.firmware), c.mcu});
    ASSERT_TRUE(board.start()) << board.error();
    const EchoRun run = echo(board, c.baud, c.lowerCaseOption);
    EXPECT_EQ(std::string(c.verdict), run.verdict) << run.output;
    EXPECT_EQ(1000, run.received) << run.output;
    EXPECT_EQ(std::string(c.verdict) == "PASS" ? 0 : 1, run.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Firmware, BoardEcho,
    ::testing::Values(
        Case{"polling_9600", "fw_polling_9600", "atmega328p", 9600, false, "PASS"},
        Case{"polling_38400", "fw_polling_38400", "atmega328p", 38400, false, "PASS"},
        Case{"polling_115200", "fw_polling_115200", "atmega328p", 115200, false, "PASS"},
        Case{"lower_case_build_without_option", "fw_polling_lower_115200", "atmega328p", 115200, false, "FAIL"},
        Case{"lower_case_build_with_option", "fw_polling_lower_115200", "atmega328p", 115200, true, "PASS"},
        Case{"plain_build_with_lower_case_option", "fw_polling_115200", "atmega328p", 115200, true, "FAIL"},
        Case{"interrupt_115200", "fw_interrupt_115200", "atmega328p", 115200, false, "PASS"},
        Case{"interrupt_lower_case_with_option", "fw_interrupt_lower_115200", "atmega328p", 115200, true, "PASS"},
        Case{"atmega16_polling_115200", "fw_m16_polling_115200", "atmega16", 115200, false, "PASS"},
        Case{"atmega16_interrupt_115200", "fw_m16_interrupt_115200", "atmega16", 115200, false, "PASS"}),
    [](const auto &info) { return std::string(info.param.name); });

struct Timing
{
    const char *name;
    const char *firmware;
    int baud;
    int boardFrameBits; // -1: the host's default
    int referenceBits;  // bit times per byte of the line time compared with
    double tolerance;
};

void PrintTo(const Timing &row, std::ostream *out) { *out << row.name; }

class BoardTiming : public ::testing::TestWithParam<Timing> {};

TEST_P(BoardTiming, LastReadFollowsTheLine)
{
    const Timing &t = GetParam();
    SimulatedBoard board({elfOf(t.firmware), "atmega328p", 14745600, t.boardFrameBits});
    ASSERT_TRUE(board.start()) << board.error();
    const double line = simulatedLineMs(t.baud, t.referenceBits);
    // A busy machine can only make the echo later (the simulation falls
    // behind): a few tries absorb that, the first in time ends the test.
    EchoRun run;
    for (int attempt = 0; attempt < 4; ++attempt) {
        run = echo(board, t.baud, false);
        ASSERT_EQ("PASS", run.verdict) << run.output;
        if (static_cast<double>(run.lastReadMs) <= line * (1 + t.tolerance))
            break;
    }
    EXPECT_NEAR(line, static_cast<double>(run.lastReadMs), t.tolerance * line) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Lines, BoardTiming,
    ::testing::Values(
        Timing{"within_15_percent_of_simavr_frames_9600", "fw_polling_9600", 9600, -1, 11, 0.15},
        Timing{"true_8n1_frames_9600", "fw_polling_9600", 9600, -1, 10, 0.05},
        Timing{"simavr_frames_kept_19200", "fw_polling_19200", 19200, 0, 11, 0.05}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BoardLifeCycle, EchoesAgainAfterThePortWasClosed)
{
    SimulatedBoard board({elfOf("fw_interrupt_115200"), "atmega328p"});
    ASSERT_TRUE(board.start()) << board.error();
    for (int run = 1; run <= 3; ++run)
        EXPECT_EQ("PASS", echo(board, 115200, false).verdict) << "run " << run;
}

TEST(BoardLifeCycle, StopsCleanlyOnSigterm)
{
    SimulatedBoard board({elfOf("fw_polling_115200"), "atmega328p"});
    ASSERT_TRUE(board.start()) << board.error();
    ASSERT_EQ("PASS", echo(board, 115200, false).verdict);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, board.stop(std::chrono::seconds(5)));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

TEST(BoardLifeCycle, RefusesAFirmwareItCannotLoad)
{
    SimulatedBoard board({std::string(FIRMWARE_DIR) + "/no-such-firmware.elf", "atmega328p"});
    EXPECT_FALSE(board.start());
}

} // namespace
