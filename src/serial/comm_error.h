#pragma once
// One failure of the serial layer, as every caller sees it: the Windows
// error number and text (the numbers the messages are chosen by, the same
// on every platform), where it happened, and the operating system's own
// text beside them where the system is not Windows (errno's text on Linux),
// so that a message can say what really happened.
#include <cstdint>
#include <string>

namespace serial {

struct CommError {
    std::int32_t number = 0;  // 0: no failure; else a Windows error number or an internal one
    std::string source;       // "CommOpen (CreateFile)"
    std::string text;         // the Windows text of number
    std::string systemText;   // the system's own text, when it says more; empty on Windows

    bool failed() const { return number != 0; }

    // "Error (" number "): " source " - " text, the one-line report.
    std::string report() const { return "Error (" + std::to_string(number) + "): " + source + " - " + text; }
};

// Numbers a transfer call fails with when the device went away in the middle
// of it: Windows gives 5 for a removed adapter, some drivers 22 or 1167.
inline bool meansPortLost(std::int32_t number)
{
    return number == 5 || number == 22 || number == 1167;
}

} // namespace serial
