#pragma once
// The handshake lines of one port that modCOMM has opened: read the inputs,
// set the outputs, wait for a change.  A sibling of modCOMM with the same
// habits: no call throws, each returns a status and leaves a failure in
// lastError().

#include "serial/comm_error.h"
#include "serial/comm_platform.h"
#include "serial/modcomm.h"

#include <cstdint>
#include <string>

namespace serial {

class PortLines {
public:
    // The lines of port (1..4) as comm has it open; every call fails with 6
    // while it is not open.
    PortLines(modCOMM &comm, std::int16_t port);

    // The inputs and the outputs as set (modemline bits).
    bool read(std::uint32_t &lines);
    // Raises the outputs in raise and lowers those in lower.
    bool set(std::uint32_t raise, std::uint32_t lower);
    // Waits up to timeoutMs for an input to change; lines: the lines seen
    // last on entry, the lines now on return.
    bool waitForChange(std::uint32_t &lines, int timeoutMs);
    // The outputs the port can drive.
    std::uint32_t outputs();

    // The last failure: number, source ("Lines (GetModemLines)"), text and
    // the system's cause.
    const CommError &lastError() const { return lastError_; }
    // The last failure says the device has no handshake lines at all.
    bool hasNoLines() const { return lastError_.cause.kind == SystemCause::Kind::NoModemLines; }

private:
    bool record(const char *call);

    CommPlatform &platform_;
    CommHandle handle_;
    CommError lastError_;
};

// The name of one modemline bit: "RTS", "DTR", "OUT1", "OUT2", "CTS", "DSR",
// "DCD", "RI"; empty for anything else.
std::string modemLineName(std::uint32_t line);
// The bit of a line's name, in any case; 0 for an unknown name.
std::uint32_t modemLineByName(const std::string &name);

} // namespace serial
