// Soaks, failure detail, the measured line rate and ports side by side,
// against virtual echo plugs with known faults (pseudo-terminals only).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/echo_command.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "serial/virtual_echo_plug.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::vector<json> linesOfType(const std::string &text, const std::string &type)
{
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        json object = json::parse(line);
        if (object["type"] == type)
            lines.push_back(std::move(object));
    }
    return lines;
}

class SoakTest : public ::testing::Test {
protected:
    std::string startPlug(serial::EchoPlugOptions options = {})
    {
        plugs.push_back(std::make_unique<serial::VirtualEchoPlug>(options));
        EXPECT_TRUE(plugs.back()->start()) << plugs.back()->errorText();
        echo.devices.push_back(plugs.back()->devicePath());
        return plugs.back()->devicePath();
    }
    int run()
    {
        echo.progress = false;
        return cli::runEcho(echo, out, err);
    }
    void TearDown() override { cli::clearInterrupt(); }

    std::vector<std::unique_ptr<serial::VirtualEchoPlug>> plugs;
    cli::EchoOptions echo;
    std::ostringstream out, err;
};

// A far end that loses byte 500, garbles byte 200 and adds one after 700 in
// every run: each run names exactly those, and the totals add them up.
TEST_F(SoakTest, KnownFaultsAreReportedWhereTheyHappen)
{
    serial::EchoPlugOptions faults;
    faults.dropAt = {500};
    faults.corruptAt = {200};
    faults.addAt = {{700, "+"}};
    faults.faultPeriod = 1000;
    startPlug(faults);
    echo.baud = "115200";
    echo.json = true;
    echo.runs = 3;
    EXPECT_EQ(cli::kExitFailed, run()) << err.str();

    const auto runs = linesOfType(out.str(), "run");
    ASSERT_EQ(3u, runs.size());
    for (const json &r : runs) {
        EXPECT_EQ("FAIL", r["verdict"]);
        EXPECT_EQ(1, r["wrong_bytes"]);
        EXPECT_EQ(1, r["missing_bytes"]);
        EXPECT_EQ(1, r["extra_bytes"]);
        EXPECT_EQ(json::array({200, 500, 701}), r["error_positions"]);
        EXPECT_EQ(200, r["first_error"]["position"]);
        EXPECT_EQ('A', r["first_error"]["expected"]);
        EXPECT_EQ('A' ^ 0x5A, r["first_error"]["received"]);
    }
    const auto statistics = linesOfType(out.str(), "statistics");
    ASSERT_EQ(1u, statistics.size());
    EXPECT_EQ(3, statistics[0]["runs"]);
    EXPECT_EQ(3, statistics[0]["failures"]);
    EXPECT_EQ(3000, statistics[0]["bytes_compared"]);
    EXPECT_EQ(3, statistics[0]["wrong_bytes"]);
    EXPECT_EQ(3, statistics[0]["missing_bytes"]);
    EXPECT_EQ(3, statistics[0]["extra_bytes"]);
    EXPECT_DOUBLE_EQ(9.0 / 3000, statistics[0]["byte_error_rate"].get<double>());
    EXPECT_EQ(3u, statistics[0]["failure_times_s"].size());
}

TEST_F(SoakTest, AFailureSaysWhichByteWentWrongInText)
{
    serial::EchoPlugOptions faults;
    faults.dropAt = {500};
    startPlug(faults);
    echo.baud = "115200";
    EXPECT_EQ(cli::kExitFailed, run());
    EXPECT_NE(std::string::npos,
              out.str().find("    0 wrong, 1 missing, 0 extra; first at byte 500: expected 'A' (0x41), got nothing"))
        << out.str();
}

// A line that runs at 100000 baud whatever the program asks: asked for
// 115200, the statistics find the true rate and warn.
TEST_F(SoakTest, ALineRunningAnotherRateIsFoundOut)
{
    serial::EchoPlugOptions paced;
    paced.pacedRate = 100000;
    startPlug(paced);
    echo.baud = "115200";
    echo.json = true;
    echo.runs = 4;
    // The plug's thread, held up on a busy machine, hands its answers over
    // late and in bursts, which bends the slope; a few tries absorb that.
    json rate;
    for (int attempt = 0; attempt < 4; ++attempt) {
        out.str("");
        EXPECT_EQ(cli::kExitOk, run()) << err.str(); // the bytes themselves come back intact
        rate = linesOfType(out.str(), "statistics").at(0)["line_rate"];
        ASSERT_TRUE(rate.is_object()) << out.str();
        if (std::abs(100000 - rate["baud"].get<double>()) <= std::max(rate["uncertainty"].get<double>(), 2000.0))
            break;
    }
    EXPECT_TRUE(rate["differs"].get<bool>());
    EXPECT_NEAR(100000, rate["baud"].get<double>(), std::max(rate["uncertainty"].get<double>(), 2000.0));

    out.str("");
    echo.json = false;
    run();
    EXPECT_NE(std::string::npos, out.str().find("not at the requested 115200")) << out.str();
}

TEST_F(SoakTest, ALineAtTheRateAskedRaisesNoWarning)
{
    startPlug();
    echo.baud = "57600";
    echo.json = true;
    echo.runs = 3;
    EXPECT_EQ(cli::kExitOk, run());
    const json rate = linesOfType(out.str(), "statistics").at(0)["line_rate"];
    ASSERT_TRUE(rate.is_object()) << out.str();
    EXPECT_FALSE(rate["differs"].get<bool>());
}

// Two ports at once: a good one and one that answers nothing.  Each keeps
// its own runs and statistics, tagged with its port; the silent one does
// not slow the good one down.
TEST_F(SoakTest, PortsSideBySideKeepTheirOwnResults)
{
    const std::string good = startPlug();
    serial::EchoPlugOptions silent;
    silent.silent = true;
    const std::string dead = startPlug(silent);
    echo.baud = "115200";
    echo.json = true;
    echo.runs = 2;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cli::kExitFailed, run());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 2s) << "the ports were tested one after the other";

    for (const json &r : linesOfType(out.str(), "run"))
        EXPECT_EQ(r["port"] == good ? "PASS" : "FAIL", r["verdict"]) << r["port"];
    const auto summaries = linesOfType(out.str(), "summary");
    ASSERT_EQ(2u, summaries.size());
    EXPECT_EQ(good, summaries[0]["port"]);
    EXPECT_EQ(2, summaries[0]["passes"]);
    EXPECT_EQ(dead, summaries[1]["port"]);
    EXPECT_EQ(2, summaries[1]["failures"]);
    EXPECT_EQ(0, summaries[1]["total_received"]);
    // The silent port's first run started with the good port's, not after
    // the good port's runs (about 180 ms).
    const json deadStatistics = linesOfType(out.str(), "statistics").at(1);
    EXPECT_LT(deadStatistics["failure_times_s"].at(0).get<double>(), 0.15);
}

TEST_F(SoakTest, AMissingPortStopsAloneWithAnErrorObject)
{
    const std::string good = startPlug();
    echo.devices.push_back("/dev/rebounce-no-such-port");
    echo.baud = "115200";
    echo.json = true;
    echo.runs = 3;
    EXPECT_EQ(cli::kExitOpenFailed, run());
    const auto errors = linesOfType(out.str(), "error");
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ("/dev/rebounce-no-such-port", errors[0]["port"]);
    EXPECT_EQ(3, linesOfType(out.str(), "summary").at(0)["passes"]) << "the good port did not run on";
}

TEST_F(SoakTest, ADurationEndsTheSoakWithItsStatistics)
{
    startPlug();
    echo.baud = "115200";
    echo.duration = 700ms;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cli::kExitOk, run()) << err.str();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 700ms);
    EXPECT_LT(took, 3s);
    // Off a terminal a passing soak prints no run lines, only its results.
    EXPECT_EQ(std::string::npos, out.str().find("Run 1:")) << out.str();
    EXPECT_NE(std::string::npos, out.str().find(" runs, ")) << out.str();
    EXPECT_NE(std::string::npos, out.str().find("last read        min ")) << out.str();
}

TEST(DurationTest, ReadsTheUsualForms)
{
    using std::chrono::milliseconds;
    EXPECT_EQ(milliseconds(90000), cli::parseDuration("90s"));
    EXPECT_EQ(milliseconds(90000), cli::parseDuration("90"));
    EXPECT_EQ(milliseconds(600000), cli::parseDuration("10m"));
    EXPECT_EQ(milliseconds(3600000), cli::parseDuration("1h"));
    EXPECT_EQ(milliseconds(5400000), cli::parseDuration("1h30m"));
    EXPECT_EQ(milliseconds(250), cli::parseDuration("250ms"));
    for (const char *bad : {"", "0s", "s", "10x", "-5s", "1.5h", "10 s", "9999999999s", "5s10"})
        EXPECT_FALSE(cli::parseDuration(bad).has_value()) << bad;
}

} // namespace
