#include "winsvc/module1.h"

#include <gtest/gtest.h>

namespace winsvc {
namespace {

struct VersionCase {
    const char *label;
    OsVersionInfo info; // major, minor, build, platform
    const char *expectedName;
    bool refused;
};

void PrintTo(const VersionCase &c, std::ostream *os) { *os << c.label; }

class WindowsVersionNameTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(WindowsVersionNameTest, NamesAndRefusesByTable)
{
    const VersionCase &c = GetParam();
    bool notSupported = false;
    EXPECT_EQ(c.expectedName, windowsVersionName(c.info, notSupported));
    EXPECT_EQ(c.refused, notSupported);
}

// Real version records where one exists (major.minor.build as the system
// reported it), otherwise the boundary of the row.
INSTANTIATE_TEST_SUITE_P(
    Rows, WindowsVersionNameTest,
    ::testing::Values(
        VersionCase{"Win32s", {3, 10, 0, 0}, "Windows 3.1", true},
        VersionCase{"QueryFailedAllZero", {0, 0, 0, 0}, "Windows 3.1", true},
        VersionCase{"Win95", {4, 0, 950, 1}, "Windows 95", true},
        VersionCase{"Win95MajorIgnored", {7, 0, 0, 1}, "Windows 95", true},
        VersionCase{"Win98", {4, 10, 0x040A07CE, 1}, "Windows 98", true},
        VersionCase{"Win98SEHighWordSet", {4, 10, 0x040A08AE, 1}, "Windows 98SE", true},
        VersionCase{"Win98SEPlainBuild", {4, 10, 2222, 1}, "Windows 98SE", true},
        VersionCase{"Win98Build2223", {4, 10, 2223, 1}, "Windows 98", true},
        VersionCase{"Win98HighWord2222Only", {4, 10, 0x08AE0000, 1}, "Windows 98", true},
        VersionCase{"WinMe", {4, 90, 0x045A0BB8, 1}, "Windows Me", true},
        VersionCase{"Platform1OtherMinor", {4, 20, 0, 1}, "", false},
        VersionCase{"NT351", {3, 51, 1057, 2}, "Windows NT 3.51", true},
        VersionCase{"NT3AnyMinor", {3, 0, 0, 2}, "Windows NT 3.51", true},
        VersionCase{"NT40", {4, 0, 1381, 2}, "Windows NT 4.0", true},
        VersionCase{"NT4AnyMinor", {4, 10, 0, 2}, "Windows NT 4.0", true},
        VersionCase{"Win2000", {5, 0, 2195, 2}, "Windows 2000", false},
        VersionCase{"WinXP", {5, 1, 2600, 2}, "Windows XP", false},
        VersionCase{"Server2003", {5, 2, 3790, 2}, "Windows Server 2003", false},
        VersionCase{"NT5OtherMinor", {5, 3, 0, 2}, "", false},
        VersionCase{"Vista", {6, 0, 6000, 2}, "", false},
        VersionCase{"Win10", {10, 0, 19045, 2}, "", false},
        VersionCase{"NT2", {2, 0, 0, 2}, "", false},
        VersionCase{"WinCE", {5, 0, 0, 3}, "Failed", false},
        VersionCase{"HugePlatform", {5, 1, 0, 0xFFFFFFFF}, "Failed", false}),
    [](const ::testing::TestParamInfo<VersionCase> &info) { return std::string(info.param.label); });

TEST(WindowsVersionName, AcceptedVersionLeavesEarlierRefusalStanding)
{
    bool notSupported = true;
    windowsVersionName(OsVersionInfo{5, 1, 2600, 2}, notSupported);
    EXPECT_TRUE(notSupported);
}

TEST(GetWindowsVersionName, ThisPlatformIsAccepted)
{
    OsNotSupported = false;
    GetWindowsVersionName();
    EXPECT_FALSE(OsNotSupported);
}

TEST(NotSupportedMessage, AppendsTheFixedText)
{
    EXPECT_EQ("Windows NT 4.0 is not supported by this program.", notSupportedMessage("Windows NT 4.0"));
}

} // namespace
} // namespace winsvc
