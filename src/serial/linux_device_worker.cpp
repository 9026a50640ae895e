#include "serial/linux_device_worker.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace serial::linuxtty {

bool DeviceWorker::start(std::function<void()> body, const std::string &what, std::string &error)
{
    if (running()) {
        error = "The " + what + " is already running.";
        return false;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe2: ") + std::strerror(errno);
        return false;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    try {
        thread_ = std::thread(std::move(body));
    } catch (const std::exception &e) {
        error = "cannot start the " + what + "'s thread: " + e.what();
        closePipe();
        return false;
    }
    return true;
}

void DeviceWorker::stop()
{
    if (thread_.joinable()) {
        const char wake = 1;
        [[maybe_unused]] const auto ignored = ::write(wakeWrite_, &wake, 1);
        thread_.join();
    }
    closePipe();
}

void DeviceWorker::closePipe()
{
    for (int *fd : {&wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

} // namespace serial::linuxtty
