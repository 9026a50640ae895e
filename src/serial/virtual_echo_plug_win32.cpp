// Windows has no pseudo-terminals to build the plug from; a null-modem
// emulator pair or a real loopback plug takes its place there.

#include "serial/virtual_echo_plug.h"

namespace serial {

struct VirtualEchoPlug::Impl {
    std::string error;
    std::string path;
};

VirtualEchoPlug::VirtualEchoPlug(EchoPlugOptions) : impl_(std::make_unique<Impl>()) {}
VirtualEchoPlug::~VirtualEchoPlug() = default;

bool VirtualEchoPlug::start()
{
    impl_->error = "The virtual echo plug needs pseudo-terminals, which Windows does not have. "
                   "Use a loopback plug or a virtual null-modem pair instead.";
    return false;
}

void VirtualEchoPlug::stop() {}
const std::string &VirtualEchoPlug::errorText() const { return impl_->error; }
const std::string &VirtualEchoPlug::devicePath() const { return impl_->path; }
std::uint64_t VirtualEchoPlug::bytesReceived() const { return 0; }
std::uint64_t VirtualEchoPlug::bytesSent() const { return 0; }
bool VirtualEchoPlug::hungUp() const { return false; }

std::uint32_t VirtualEchoPlug::lineRate() const { return 0; }

} // namespace serial
