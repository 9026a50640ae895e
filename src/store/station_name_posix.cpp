// The station's name on POSIX systems: the host name.
#include "store/results_store.h"

#include <unistd.h>

namespace store {

std::string stationName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "unknown";
    return name;
}

} // namespace store
