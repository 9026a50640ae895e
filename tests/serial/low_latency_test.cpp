// --low-latency's timer and flag: set for the run, put back after it, and
// said once where the driver has neither.  The timer is a file of a
// temporary tree standing for ftdi_sio's sysfs attribute; the device is a
// pseudo-terminal, which has no low-latency flag (never a real port).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pty_helpers.h"
#include "serial/low_latency.h"

namespace {

namespace fs = std::filesystem;

class LowLatencyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("rebounce-latency-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        timer = (dir / "latency_timer").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void writeTimer(const std::string &text) { std::ofstream(timer) << text; }
    std::string timerText()
    {
        std::ifstream in(timer);
        std::string text;
        std::getline(in, text);
        return text;
    }

    fs::path dir;
    std::string timer;
    serial::testing::PtyPair pty;
};

TEST_F(LowLatencyTest, SetsOneMillisecondForTheRunAndPutsTheOldTimerBack)
{
    writeTimer("16\n");
    EXPECT_EQ(16, serial::readLatency(timer, pty.path()).timerMs);
    {
        serial::LowLatency low(timer, pty.path());
        EXPECT_EQ("", low.problem());
        EXPECT_EQ("1", timerText());
        EXPECT_EQ(1, low.during().timerMs);
        EXPECT_FALSE(low.during().lowLatency.has_value()); // a pseudo-terminal has no such flag
    }
    EXPECT_EQ("16", timerText());
}

TEST_F(LowLatencyTest, PutsBackWhateverValueItFound)
{
    writeTimer("4\n");
    serial::LowLatency low(timer, pty.path());
    EXPECT_EQ("1", timerText());
    low.restore();
    EXPECT_EQ("4", timerText());
    EXPECT_EQ(4, low.during().timerMs);
    writeTimer("9\n"); // a second restore, at its end, changes nothing
}

TEST_F(LowLatencyTest, AnUnpluggedAdapterIsNotWrittenAgain)
{
    writeTimer("16\n");
    {
        serial::LowLatency low(timer, pty.path());
        fs::remove(timer); // the adapter is gone, and its attribute with it
    }
    EXPECT_FALSE(fs::exists(timer));
}

TEST_F(LowLatencyTest, SaysOnceWhatCannotBeSetAndChangesNothing)
{
    // No timer at all: another driver.
    serial::LowLatency none(timer, pty.path());
    EXPECT_NE(std::string::npos, none.problem().find("has no latency timer or low-latency flag"))
        << none.problem();
    EXPECT_FALSE(fs::exists(timer));
}

TEST_F(LowLatencyTest, ATimerThatCannotBeWrittenIsSaidAndTheRunGoesOn)
{
    // A file that reads as a number and that not even root may write: this
    // process's /proc stat line, which starts with its pid.
    const std::string readOnly = "/proc/self/stat";
    serial::LowLatency blocked(readOnly, pty.path());
    EXPECT_NE(std::string::npos, blocked.problem().find("cannot set the latency timer")) << blocked.problem();
    EXPECT_EQ(blocked.during().timerMs, serial::readLatency(readOnly, pty.path()).timerMs)
        << "the timer as it was";
}

TEST(LatencyTimerFileTest, NamesTheTtysSysfsAttribute)
{
    EXPECT_EQ("/sys/class/tty/ttyUSB3/device/latency_timer", serial::latencyTimerFile("/dev/ttyUSB3"));
}

} // namespace
