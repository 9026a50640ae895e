// The station's name on Windows: the computer name.
#include "store/results_store.h"

#include <windows.h>

namespace store {

std::string stationName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0)
        return "unknown";
    return std::string(name, size);
}

} // namespace store
