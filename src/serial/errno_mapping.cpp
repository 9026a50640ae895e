// errno to Windows error numbers for the Linux serial calls.
#include "serial/errno_mapping.h"

#include <cerrno>

#include "serial/comm_platform.h"

namespace serial {

std::uint32_t windowsErrorForErrno(int error)
{
    switch (error) {
    case 0: return winerr::success;
    case ENOENT:
    case ENXIO:
    case ENODEV: return winerr::fileNotFound;
    case ENOTDIR: return winerr::pathNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK: return winerr::accessDenied;
    case EBADF: return winerr::invalidHandle;
    case ENOMEM: return winerr::notEnoughMemory;
    case ENOTTY: return winerr::invalidFunction;
    case EINVAL: return winerr::invalidParameter;
    case ETIMEDOUT: return winerr::semTimeout;
    case EINTR: return winerr::operationAborted;
    case EIO: // the line went away: a hung-up pty, an unplugged adapter
    default: return winerr::genFailure;
    }
}

bool errnoMeansLineGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

} // namespace serial
