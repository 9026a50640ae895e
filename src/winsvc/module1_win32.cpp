// Version record from Windows.  GetVersionExA reports 6.2 on Windows 8.1 and
// later unless the executable carries a compatibility manifest, so we ask
// ntdll's RtlGetVersion first (it never lies) and fall back to GetVersionExA.
// Either answer lands in an accepted row for every supported system.
#include "winsvc/module1.h"

#include <windows.h>

namespace winsvc {

namespace {
using RtlGetVersionFn = LONG(WINAPI *)(OSVERSIONINFOW *);

bool queryWithRtlGetVersion(OsVersionInfo &out)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr)
        return false;
    auto fn = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (fn == nullptr)
        return false;
    OSVERSIONINFOW vi{};
    vi.dwOSVersionInfoSize = sizeof(vi);
    if (fn(&vi) != 0) // STATUS_SUCCESS
        return false;
    out.dwMajorVersion = vi.dwMajorVersion;
    out.dwMinorVersion = vi.dwMinorVersion;
    out.dwBuildNumber = vi.dwBuildNumber;
    out.dwPlatformId = vi.dwPlatformId;
    return true;
}
} // namespace

OsVersionInfo queryOsVersion()
{
    OsVersionInfo info;
    if (queryWithRtlGetVersion(info))
        return info;

    // A failed call leaves the record zeroed: platform 0, which is refused.
    OSVERSIONINFOA vi{};
    vi.dwOSVersionInfoSize = sizeof(vi);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996) // deprecated, but it is the fallback
#endif
    GetVersionExA(&vi);
    info.dwMajorVersion = vi.dwMajorVersion;
    info.dwMinorVersion = vi.dwMinorVersion;
    info.dwBuildNumber = vi.dwBuildNumber;
    info.dwPlatformId = vi.dwPlatformId;
    return info;
}

} // namespace winsvc
