// rebounce-cli --help and --version: what a user and help2man read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/program_info.h"
#include "rebounce_version.h"

namespace {

struct Output {
    int status;
    std::string out;
};

Output runCli(std::vector<const char *> args)
{
    args.insert(args.begin(), "rebounce-cli");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = cli::run(static_cast<int>(args.size()), const_cast<char **>(args.data()));
    Output output{status, testing::internal::GetCapturedStdout()};
    testing::internal::GetCapturedStderr();
    return output;
}

TEST(CliHelpTest, EveryHelpListsTheExitStatusesAndNoStoredFlagValues)
{
    const std::vector<std::vector<const char *>> helps = {
        {"--help"}, {"echo", "--help"}, {"calc", "--help"}, {"rates", "--help"}, {"plug", "--help"}, {"pair", "--help"}, {"ports", "--help"},
    };
    for (const auto &args : helps) {
        const Output help = runCli(args);
        const std::string what = args.size() > 1 ? args.front() : "rebounce-cli";
        EXPECT_EQ(cli::kExitOk, help.status) << what;
        EXPECT_NE(std::string::npos, help.out.find(cli::exitStatusText())) << what;
        // A negated flag once showed as "--no-progress{false}"; an empty list as "=[]".
        EXPECT_EQ(std::string::npos, help.out.find('{')) << what << help.out;
        EXPECT_EQ(std::string::npos, help.out.find("=[]")) << what << help.out;
    }
}

TEST(CliHelpTest, EchoHelpShowsTheDefaults)
{
    const std::string help = runCli({"echo", "--help"}).out;
    for (const char *shown : {"=1 ", "=9600 ", "--no-progress "}) // port, baud and runs, the flag by its name
        EXPECT_NE(std::string::npos, help.find(shown)) << shown << '\n' << help;
}

TEST(CliHelpTest, ExitStatusesCarryTheirNumbers)
{
    const std::string text = cli::exitStatusText();
    for (const char *line : {"\n  0    success", "\n  1    a run failed", "\n  2    the command line is wrong",
                             "\n  3    the port could not be opened", "\n  130  interrupted"})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
}

TEST(CliHelpTest, VersionPrintsTheProjectVersionAndExitsZero)
{
    const Output version = runCli({"--version"});
    EXPECT_EQ(cli::kExitOk, version.status);
    EXPECT_EQ(std::string("rebounce-cli (Rebounce Test) ") + rebounce::kVersion,
              version.out.substr(0, version.out.find('\n')));
    EXPECT_EQ(cli::versionText() + "\n", version.out);
}

} // namespace
