#include "plug_host.h"

#include <cstdio>
#include <memory>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

PlugHost::PlugHost(int count, const serial::EchoPlugOptions &options)
{
    int paths[2], control[2];
    if (::pipe(paths) != 0 || ::pipe(control) != 0)
        return;
    child_ = ::fork();
    if (child_ == 0) {
        ::close(paths[0]);
        ::close(control[1]);
        std::vector<std::unique_ptr<serial::VirtualEchoPlug>> plugs;
        std::string list;
        for (int i = 0; i < count; ++i) {
            plugs.push_back(std::make_unique<serial::VirtualEchoPlug>(options));
            if (!plugs.back()->start())
                _exit(1);
            list += plugs.back()->devicePath() + "\n";
        }
        list += "\n";
        if (::write(paths[1], list.data(), list.size()) != static_cast<ssize_t>(list.size()))
            _exit(1);
        char byte;
        while (::read(control[0], &byte, 1) > 0) {
        }
        plugs.clear();
        _exit(0);
    }
    ::close(paths[1]);
    ::close(control[0]);
    control_ = control[1];
    std::string text;
    char buffer[4096];
    while (text.size() < 2 || text.substr(text.size() - 2) != "\n\n") {
        const ssize_t n = ::read(paths[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(paths[0]);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos && end > at; at = end + 1)
        paths_.push_back(text.substr(at, end - at));
}

PlugHost::~PlugHost()
{
    if (control_ >= 0)
        ::close(control_);
    if (child_ > 0)
        ::waitpid(child_, nullptr, 0);
}

} // namespace bench
