#pragma once
// One failure of the serial layer, as every caller sees it: the Windows
// error number and text (the numbers the messages are chosen by, the same
// on every platform), where it happened, and the operating system's own
// text beside them where the system is not Windows (errno's text on Linux),
// so that a message can say what really happened.
#include <cstdint>
#include <string>

namespace serial {

// What the system said about a failure beyond the Windows number, where it
// said more (POSIX): the number stays what Windows would answer, so that the
// layer's reports read the same everywhere, and this record keeps the real
// cause for the messages that can be more precise than Windows' texts.
struct SystemCause {
    enum class Kind {
        None,        // nothing beyond the Windows number
        Permission,  // the user may not open the device node
        Held,        // another program holds the port
        NotSerial,   // opens, but is no terminal (e.g. /dev/urandom)
        RegularFile, // a plain file
        Directory,
        Lost,        // the device went away or the far end hung up mid-transfer
        // A port on another machine (devicePath: "HOST:PORT"):
        HostNotFound, // the host's name does not resolve
        Unreachable,  // no connection: refused, timed out, no route
        NotRfc2217,   // something answers there, but not a port server
        NoAnswer,     // the port server did not answer the line settings
        FrameRefused, // the driver refused the frame asked for, or runs another (systemText says which)
        NoModemLines, // a device without handshake lines; systemText says what it is
    };
    Kind kind = Kind::None;
    int systemError = 0;       // errno (0 for a hang-up seen by poll)
    std::string systemText;    // the system's own text for it
    std::string devicePath;    // the node the name led to
    std::string ownerGroup;    // Permission: the group owning the node
    bool ownerGroupIsRoot = false;
    std::string holderProgram; // Held: the other program, when known
    std::int64_t holderPid = 0;

    friend bool operator==(const SystemCause &, const SystemCause &) = default;
};

struct CommError {
    std::int32_t number = 0;  // 0: no failure; else a Windows error number or an internal one
    std::string source;       // "CommOpen (CreateFile)"
    std::string text;         // the Windows text of number
    SystemCause cause;        // the system's own account, where it gives one (not on Windows)

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
