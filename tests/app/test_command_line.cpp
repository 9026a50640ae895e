// rebounce --help / --version: answered without a display, and every other
// argument left for the toolkit and the window.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "app/command_line.h"
#include "rebounce_version.h"

namespace {

struct Answer {
    std::optional<int> status;
    std::string output;
};

Answer answer(std::vector<const char *> args)
{
    args.insert(args.begin(), "rebounce");
    std::ostringstream out;
    const auto status = startup::answerInfoRequest(static_cast<int>(args.size()), args.data(), out);
    return {status, out.str()};
}

TEST(CommandLineTest, HelpAndVersionAreAnsweredWhereverTheyStand)
{
    const std::string help = startup::helpText();
    const std::string version = startup::versionText();
    const struct {
        std::vector<const char *> args;
        const std::string &expected;
    } cases[] = {
        {{"--help"}, help},
        {{"-h"}, help},
        {{"--version"}, version},
        {{"-platform", "offscreen", "--version"}, version},
        {{"--version", "--help"}, version},
    };
    for (const auto &c : cases) {
        const Answer a = answer(c.args);
        EXPECT_EQ(0, a.status);
        EXPECT_EQ(c.expected, a.output);
    }
}

TEST(CommandLineTest, OtherArgumentsStartTheWindow)
{
    const std::vector<std::vector<const char *>> cases = {
        {},
        {"-platform", "offscreen"},
        {"--device", "/dev/ttyUSB0"},
        {"--", "--help"},      // after "--" nothing is an option of ours
        {"--helpx"},
        {"-version"},          // not ours; Qt may know it
    };
    for (const auto &args : cases) {
        const Answer a = answer(args);
        EXPECT_FALSE(a.status.has_value()) << (args.empty() ? "(none)" : args.back());
        EXPECT_EQ("", a.output);
    }
}

TEST(CommandLineTest, VersionLineIsWhatHelp2manAndPackagesRead)
{
    // help2man takes "program (package) version" from the first line.
    const std::string version = startup::versionText();
    EXPECT_EQ(std::string("rebounce (Rebounce Test) ") + rebounce::kVersion, version.substr(0, version.find('\n')));
    EXPECT_NE(std::string::npos, startup::helpText().find("Usage: rebounce "));
}

} // namespace
