#pragma once
// Virtual echo plugs served by a child process, so that the figures of the
// program under test count its own processor time only, not the plugs'.
#include <string>
#include <vector>

#include <sys/types.h>

#include "serial/virtual_echo_plug.h"

namespace bench {

class PlugHost {
public:
    // Starts count plugs with options in a child process.
    PlugHost(int count, const serial::EchoPlugOptions &options);
    // Stops the child (it ends when its pipe closes) and waits for it.
    ~PlugHost();
    PlugHost(const PlugHost &) = delete;
    PlugHost &operator=(const PlugHost &) = delete;

    const std::vector<std::string> &paths() const { return paths_; }

private:
    pid_t child_ = -1;
    int control_ = -1; // closing it ends the child
    std::vector<std::string> paths_;
};

} // namespace bench
