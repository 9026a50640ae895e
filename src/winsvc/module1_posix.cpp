// Version record on systems that are not Windows.  The program only refuses
// the pre-2000 Windows versions; any other system runs it, so we report an
// NT-family record newer than every named row (platform 2, major 10), which
// lands in the accepted "unnamed version" row and gives the empty name.
#include "winsvc/module1.h"

namespace winsvc {

OsVersionInfo queryOsVersion()
{
    OsVersionInfo info;
    info.dwPlatformId = 2;
    info.dwMajorVersion = 10;
    return info;
}

} // namespace winsvc
