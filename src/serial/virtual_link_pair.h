#pragma once
// A virtual link: two pseudo-terminals joined as two ports by a null-modem
// cable or an RS-485 pair.  What a program sends on one arrives on the
// other after the line time of the sender's rate and frame.  Faults stand
// in for a broken cable: lost, garbled or extra bytes, a dead direction,
// and a crossed pair whose bytes come back on the sender.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace serial {

struct LinkPairOptions {
    // Positions count the bytes sent in each direction separately.
    std::set<std::size_t> dropAt;            // bytes that never arrive
    std::set<std::size_t> corruptAt;         // bytes that arrive with other bits
    std::map<std::size_t, std::string> addAt; // extra bytes after the byte at a position
    bool deadAToB = false;                   // nothing sent on A arrives
    bool deadBToA = false;
    bool crossed = false;                    // what is sent comes back on the sender
    bool lineTiming = true;                  // false: deliver at once
    std::size_t faultPeriod = 0;             // fault positions repeat with this period
};

class VirtualLinkPair {
public:
    explicit VirtualLinkPair(LinkPairOptions options = {});
    ~VirtualLinkPair(); // stops the link
    VirtualLinkPair(const VirtualLinkPair &) = delete;
    VirtualLinkPair &operator=(const VirtualLinkPair &) = delete;

    // Creates both pseudo-terminals and starts carrying bytes.  False with
    // errorText() where the platform has none.
    bool start();
    void stop();

    const std::string &errorText() const;
    const std::string &pathA() const;
    const std::string &pathB() const;
    std::uint64_t bytesTaken() const;   // read from the programs
    std::uint64_t bytesCarried() const; // handed to the programs

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace serial
