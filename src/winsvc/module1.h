#pragma once
// Module1: names the running Windows version and marks the versions the
// program refuses to start on (everything before Windows 2000).
#include <cstdint>
#include <string>

namespace winsvc {

// The numeric fields of the system's OSVERSIONINFO record.  All zero means
// "the query failed", which reads as platform 0 (Win32s) and is refused.
struct OsVersionInfo {
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
};

// Program-wide: true once a refused version was detected.  Only ever set to
// true here; the main window's initialisation clears it before asking.
extern bool OsNotSupported;

// Names the version described by `info`.  Sets `osNotSupported` to true for
// a refused version and leaves it untouched otherwise.  Accepted versions the
// table does not name (Vista and later, odd 9x minors) give the empty text;
// a platform id other than 0, 1 or 2 gives "Failed" and is accepted.
std::string windowsVersionName(const OsVersionInfo &info, bool &osNotSupported);

// Asks the platform for its version record (see module1_<platform>.cpp).
// Never fails: on error the record stays all zero.
OsVersionInfo queryOsVersion();

// Names the running version and sets OsNotSupported for a refused one.
std::string GetWindowsVersionName();

// The text shown before the program ends on a refused version.
std::string notSupportedMessage(const std::string &versionName);

} // namespace winsvc
