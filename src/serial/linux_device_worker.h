#pragma once
// The thread behind a virtual device (the echo plug, the linked pair): it
// serves its pseudo-terminals until stop(), which it learns of by wakeFd()
// becoming readable among the descriptors it polls.
#include <functional>
#include <string>
#include <thread>

namespace serial::linuxtty {

class DeviceWorker {
public:
    DeviceWorker() = default;
    DeviceWorker(const DeviceWorker &) = delete;
    DeviceWorker &operator=(const DeviceWorker &) = delete;
    ~DeviceWorker() { stop(); }

    bool running() const { return thread_.joinable(); }
    // Runs body on a thread of its own; false with the reason in error
    // ("cannot start the <what>'s thread: ...").
    bool start(std::function<void()> body, const std::string &what, std::string &error);
    // Wakes the thread, waits for it to end, and closes the wake pipe.
    void stop();
    int wakeFd() const { return wakeRead_; }

private:
    void closePipe();

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

} // namespace serial::linuxtty
