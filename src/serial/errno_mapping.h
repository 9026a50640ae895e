#pragma once
// The Windows error number that Windows' own serial calls would answer
// where a POSIX call failed with an errno, so that the serial layer's
// reports and the messages chosen by number read the same on every
// system.  The errno itself stays beside the number (SystemCause).
#include <cstdint>

namespace serial {

// 0 for 0; an errno without a closer match gives 31 (a device attached to
// the system is not functioning), as EIO does.
std::uint32_t windowsErrorForErrno(int error);

// A transfer that meets this errno has lost its line: an unplugged USB
// adapter (EIO), a node with no device behind it any more (ENXIO, ENODEV),
// a pseudo-terminal whose far end closed (EIO).
bool errnoMeansLineGone(int error);

} // namespace serial
