#pragma once
// Messages for port faults that the serial layer can explain better than its
// Windows number alone says: on Linux it keeps the system's own cause beside
// the number (who holds the port, which group may open it, what the device
// really is, how the line went away).  Where it knows nothing more, as on
// Windows, the window's own messages stand unchanged.
#include <cstdint>
#include <string>

namespace serial {
struct SystemCause;
}

namespace echotest {

// The names a message uses for the port: comName as the window shows it
// ("COM" + port), deviceName as the run opened it; the node the system
// reached is added where it says more than both.
struct PortNames {
    std::string comName;
    std::string deviceName;
};

// The message for a failed open chosen from the cause, or empty when the
// cause adds nothing and the window's message for the number applies.
std::string openCauseMessage(const serial::SystemCause &cause, const PortNames &names);

// A message that ends in a raw error report, with the system's own words
// for the fault on a last line where there are any (the report's own line
// end is not doubled).
std::string withSystemText(std::string message, const std::string &systemText);

// The run's message when the port went away mid-run.
std::string lostPortMessage(const serial::SystemCause &cause, const PortNames &names, const std::string &report);

} // namespace echotest
