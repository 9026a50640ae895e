// Fixture files: what a good one gives each position, and where a broken
// one is broken.
#include <gtest/gtest.h>

#include "cli/fixture_file.h"

namespace {

TEST(FixtureFileTest, GivesEachPositionItsPlaceRateAndFrame)
{
    const cli::Fixture fixture = cli::parseFixture(R"({
        "baud": 115200,
        "positions": [
            {"name": "A1", "usb_path": "1-1.4:1.0"},
            {"name": "A2", "usb_serial": "FT1ABCDE:1", "baud": 9600},
            {"name": "B1", "device": "/dev/ttyUSB7", "baud": "57600", "frame": "7E1"}
        ]})",
                                                   "f.json", "9600");
    ASSERT_EQ(3u, fixture.positions.size());
    const cli::FixturePosition &a1 = fixture.positions[0];
    EXPECT_EQ("A1", a1.name);
    EXPECT_EQ("usb-path:1-1.4:1.0", a1.device);
    EXPECT_EQ("115200", a1.baud);
    EXPECT_FALSE(a1.frame);
    EXPECT_EQ("usb-serial:FT1ABCDE:1", fixture.positions[1].device);
    EXPECT_EQ("9600", fixture.positions[1].baud);
    EXPECT_EQ("/dev/ttyUSB7", fixture.positions[2].device);
    EXPECT_EQ("57600", fixture.positions[2].baud);
    EXPECT_EQ("7E1", fixture.positions[2].frame);
    // Without a rate in the file, the command line's.
    EXPECT_EQ("19200", cli::parseFixture(R"({"positions":[{"name":"P","device":"/dev/x"}]})", "f", "19200")
                           .positions.front()
                           .baud);
}

struct BrokenCase {
    const char *name;
    const char *text;
    const char *message; // a part of what the error says
};

void PrintTo(const BrokenCase &c, std::ostream *out) { *out << c.name; }

class BrokenFixtureTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenFixtureTest, SaysWhereItIsBroken)
{
    try {
        cli::parseFixture(GetParam().text, "f.json", "9600");
        FAIL() << "accepted";
    } catch (const cli::FixtureError &error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find(GetParam().message)) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Broken, BrokenFixtureTest,
    ::testing::Values(
        BrokenCase{"not_json", "positions: [A1]", "f.json: not valid JSON"},
        BrokenCase{"not_an_object", "[]", "expected an object with \"positions\""},
        BrokenCase{"no_positions", "{}", "\"positions\" must be a list of at least one position"},
        BrokenCase{"empty_positions", R"({"positions": []})", "at least one position"},
        BrokenCase{"unknown_top_key", R"({"positions": [], "bauds": 9600})", "unknown key \"bauds\""},
        BrokenCase{"position_not_object", R"({"positions": ["A1"]})", "position 1: expected an object"},
        BrokenCase{"no_name", R"({"positions": [{"device": "/dev/x"}]})", "position 1: every position needs a"},
        BrokenCase{"no_place", R"({"positions": [{"name": "A1"}]})", "position 1 (A1): name exactly one of"},
        BrokenCase{"two_places", R"({"positions": [{"name": "A1", "device": "/dev/x", "usb_path": "1-1:1.0"}]})",
                   "name exactly one of"},
        BrokenCase{"typo", R"({"positions": [{"name": "A1", "usb_pth": "1-1:1.0"}]})", "unknown key \"usb_pth\""},
        BrokenCase{"twice", R"({"positions": [{"name": "A1", "device": "/dev/x"}, {"name": "A1", "device": "/dev/y"}]})",
                   "position 2 (A1): the name A1 is used twice"},
        BrokenCase{"bad_rate", R"({"positions": [{"name": "A1", "device": "/dev/x", "baud": "fast"}]})",
                   "position 1: \"baud\""},
        BrokenCase{"negative_rate", R"({"positions": [{"name": "A1", "device": "/dev/x", "baud": -9600}]})",
                   "\"baud\" must be a whole number"},
        BrokenCase{"bad_file_rate", R"({"baud": 1.5, "positions": [{"name": "A1", "device": "/dev/x"}]})",
                   "f.json: \"baud\" must be a whole number"},
        BrokenCase{"bad_frame", R"({"positions": [{"name": "A1", "device": "/dev/x", "frame": "9X3"}]})",
                   "expected a frame such as 8N1"},
        BrokenCase{"empty_path", R"({"positions": [{"name": "A1", "usb_path": ""}]})",
                   "\"usb_path\" must be a non-empty text"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FixtureFileTest, AFileThatIsNotThereIsNamed)
{
    EXPECT_THROW(cli::readFixtureFile("/nonexistent/rebounce-fixture.json", "9600"), cli::FixtureError);
}

} // namespace
