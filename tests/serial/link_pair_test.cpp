// The virtual link: two pseudo-terminals joined as by a cable, and the
// faults of a broken one.

#include "serial/modcomm.h"
#include "serial/virtual_link_pair.h"
#include "pty_helpers.h"

#include <gtest/gtest.h>

#include <functional>

namespace serial {
namespace {

using namespace std::chrono_literals;
using serial::testing::readFor;

const std::string mode = "baud=115200 parity=N data=8 stop=1";

// What arrives: the count expected, and anything more shortly after it.
std::string arriving(modCOMM &comm, std::int16_t port, std::size_t count)
{
    std::string received = readFor(comm, port, count, 3s);
    return received + readFor(comm, port, 1, 100ms);
}

struct LinkCase {
    const char *name;
    std::function<void(LinkPairOptions &)> fault;
    std::string atB;     // what A's "ABCDEF" brings to B
    std::string backOnA; // ... and back to A itself
    std::string atA;     // what B's "xyz" brings to A
};

class Link : public ::testing::TestWithParam<LinkCase> {};

TEST_P(Link, CarriesEachDirectionWithItsFaults)
{
    const LinkCase &c = GetParam();
    LinkPairOptions options;
    c.fault(options);
    VirtualLinkPair link(options);
    ASSERT_TRUE(link.start()) << link.errorText();
    modCOMM comm;
    ASSERT_EQ(0, comm.CommOpen(1, link.pathA(), mode));
    ASSERT_EQ(0, comm.CommOpen(2, link.pathB(), mode));

    ASSERT_EQ(6, comm.CommWrite(1, "ABCDEF"));
    EXPECT_EQ(c.atB, arriving(comm, 2, c.atB.size()));
    EXPECT_EQ(c.backOnA, arriving(comm, 1, c.backOnA.size()));
    ASSERT_EQ(3, comm.CommWrite(2, "xyz"));
    EXPECT_EQ(c.atA, arriving(comm, 1, c.atA.size()));
    EXPECT_EQ(0, comm.CommClose(1));
    EXPECT_EQ(0, comm.CommClose(2));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Link,
    ::testing::Values(
        LinkCase{"Sound", [](auto &) {}, "ABCDEF", "", "xyz"},
        LinkCase{"DeadAToB", [](auto &o) { o.deadAToB = true; }, "", "", "xyz"},
        LinkCase{"DeadBToA", [](auto &o) { o.deadBToA = true; }, "ABCDEF", "", ""},
        LinkCase{"Crossed", [](auto &o) { o.crossed = true; }, "", "ABCDEF", ""},
        LinkCase{"LostByte", [](auto &o) { o.dropAt = {2}; }, "ABDEF", "", "xy"},
        LinkCase{"Garbled", [](auto &o) { o.corruptAt = {0}; }, std::string(1, 'A' ^ 0x5A) + "BCDEF", "",
                 std::string(1, 'x' ^ 0x5A) + "yz"},
        LinkCase{"Extra", [](auto &o) { o.addAt = {{5, "+"}}; }, "ABCDEF+", "", "xyz"}),
    [](const auto &info) { return std::string(info.param.name); });

// Bytes sent while the far port is closed are gone, as on a wire.
TEST(LinkPair, AClosedPortReceivesNothingLater)
{
    VirtualLinkPair link;
    ASSERT_TRUE(link.start()) << link.errorText();
    modCOMM comm;
    ASSERT_EQ(0, comm.CommOpen(1, link.pathA(), mode));
    ASSERT_EQ(5, comm.CommWrite(1, "early"));
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (link.bytesTaken() < 5 && std::chrono::steady_clock::now() < deadline)
        comm.CommWaitInput(1, 1);
    ASSERT_EQ(5u, link.bytesTaken());
    ASSERT_EQ(0, comm.CommOpen(2, link.pathB(), mode));
    ASSERT_EQ(4, comm.CommWrite(1, "late"));
    EXPECT_EQ("late", arriving(comm, 2, 4));
}

} // namespace
} // namespace serial
