#include "winsvc/module1.h"

namespace winsvc {

bool OsNotSupported = false;

namespace {
constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWin32Windows = 1;
constexpr uint32_t kPlatformWin32Nt = 2;
// Windows 98 Second Edition is 4.10 with build 2222; the high word of the
// build number carries the major/minor version on the 9x line.
constexpr uint32_t kWin98SeBuild = 2222;
} // namespace

std::string windowsVersionName(const OsVersionInfo &info, bool &osNotSupported)
{
    const auto refuse = [&osNotSupported](const char *name) {
        osNotSupported = true;
        return std::string(name);
    };

    switch (info.dwPlatformId) {
    case kPlatformWin32s:
        return refuse("Windows 3.1");
    case kPlatformWin32Windows:
        // The 9x line is told apart by the minor version alone.
        switch (info.dwMinorVersion) {
        case 0:
            return refuse("Windows 95");
        case 10:
            if ((info.dwBuildNumber & 0xFFFFu) == kWin98SeBuild)
                return refuse("Windows 98SE");
            return refuse("Windows 98");
        case 90:
            return refuse("Windows Me");
        default:
            return {};
        }
    case kPlatformWin32Nt:
        switch (info.dwMajorVersion) {
        case 3:
            return refuse("Windows NT 3.51");
        case 4:
            return refuse("Windows NT 4.0");
        case 5:
            switch (info.dwMinorVersion) {
            case 0:
                return "Windows 2000";
            case 1:
                return "Windows XP";
            case 2:
                return "Windows Server 2003";
            default:
                return {};
            }
        default:
            return {};
        }
    default:
        return "Failed";
    }
}

std::string GetWindowsVersionName()
{
    return windowsVersionName(queryOsVersion(), OsNotSupported);
}

std::string notSupportedMessage(const std::string &versionName)
{
    return versionName + " is not supported by this program.";
}

} // namespace winsvc
