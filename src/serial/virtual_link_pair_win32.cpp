// Windows has no pseudo-terminals; a virtual null-modem pair takes the
// link's place there.

#include "serial/virtual_link_pair.h"

namespace serial {

struct VirtualLinkPair::Impl {
    std::string error;
    std::string path;
};

VirtualLinkPair::VirtualLinkPair(LinkPairOptions) : impl_(std::make_unique<Impl>()) {}
VirtualLinkPair::~VirtualLinkPair() = default;

bool VirtualLinkPair::start()
{
    impl_->error = "The virtual link needs pseudo-terminals, which Windows does not have. "
                   "Use a virtual null-modem pair instead.";
    return false;
}

void VirtualLinkPair::stop() {}
const std::string &VirtualLinkPair::errorText() const { return impl_->error; }
const std::string &VirtualLinkPair::pathA() const { return impl_->path; }
const std::string &VirtualLinkPair::pathB() const { return impl_->path; }
std::uint64_t VirtualLinkPair::bytesTaken() const { return 0; }
std::uint64_t VirtualLinkPair::bytesCarried() const { return 0; }

} // namespace serial
