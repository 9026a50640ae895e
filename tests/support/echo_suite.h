#pragma once
// One echo suite for every far end the serial layer can meet: the
// scriptable fake, pseudo-terminals, the virtual echo plug, COM1 under
// Wine, and a real looped-back port named by REBOUNCE_LOOPBACK_DEVICE.
// A test file includes this once and instantiates EchoSuite over its ends:
//
//   INSTANTIATE_TEST_SUITE_P(Ends, EchoSuite, ::testing::Values(EchoCase{...}, loopbackCase()), caseName);

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "serial/modcomm.h"

namespace echosuite {

// A far end the layer talks to.
class EchoEnd {
public:
    virtual ~EchoEnd() = default;
    virtual serial::CommPlatform &platform() { return serial::systemCommPlatform(); }
    virtual std::string device() const = 0;
    // How long an answer may take to come back in full.
    virtual std::chrono::milliseconds patience() const { return std::chrono::seconds(5); }
    // Not empty: the end is not there on this machine, the suite skips it.
    virtual std::string missing() const { return {}; }
};

struct EchoCase {
    const char *name;
    std::function<std::unique_ptr<EchoEnd>()> make;
    std::uint32_t rate;
};

inline std::string caseName(const ::testing::TestParamInfo<EchoCase> &info)
{
    return info.param.name;
}

// A real port with pins 2 and 3 joined, named by the environment; skipped
// when the variable is unset.  Nothing else in the suites opens a real port.
class LoopbackEnd : public EchoEnd {
public:
    std::string device() const override
    {
        const char *name = std::getenv("REBOUNCE_LOOPBACK_DEVICE");
        return name ? name : "";
    }
    std::string missing() const override
    {
        return device().empty() ? "REBOUNCE_LOOPBACK_DEVICE names no looped-back port" : "";
    }
};

inline EchoCase loopbackCase(std::uint32_t rate = 9600)
{
    return EchoCase{"LoopbackDevice", [] { return std::make_unique<LoopbackEnd>(); }, rate};
}

inline std::string modeFor(std::uint32_t rate)
{
    return "baud=" + std::to_string(rate) + " parity=N data=8 stop=1";
}

inline std::string reportOf(const serial::modCOMM &comm)
{
    std::string text;
    comm.LastErrorReport(text);
    return text;
}

// Reads until count bytes have come or limit has passed.  Each read asks
// for no more than is still due: under Wine a read that asks for more than
// is queued waits out its whole second.
inline std::string readEcho(serial::modCOMM &comm, std::size_t count, std::chrono::milliseconds limit)
{
    std::string all;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (all.size() < count && std::chrono::steady_clock::now() < end) {
        std::string part;
        if (comm.CommRead(1, part, static_cast<std::int32_t>(count - all.size())) < 0)
            break;
        all += part;
        if (part.empty())
            comm.CommWaitInput(1, 5);
    }
    return all;
}

class EchoSuite : public ::testing::TestWithParam<EchoCase> {
protected:
    void SetUp() override
    {
        end_ = GetParam().make();
        if (const std::string why = end_->missing(); !why.empty())
            GTEST_SKIP() << why;
        comm_ = std::make_unique<serial::modCOMM>(end_->platform());
        ASSERT_EQ(0, comm_->CommOpen(1, end_->device(), modeFor(GetParam().rate))) << reportOf(*comm_);
    }
    void TearDown() override
    {
        if (comm_) {
            EXPECT_EQ(0, comm_->CommClose(1));
        }
    }

    std::unique_ptr<EchoEnd> end_;
    std::unique_ptr<serial::modCOMM> comm_;
};

TEST_P(EchoSuite, PatternInTenByteChunksComesBackIntact)
{
    std::string pattern;
    for (int i = 0; i < 100; ++i)
        pattern += "ABCDEFGHIJ";
    std::string received;
    for (std::size_t at = 0; at < pattern.size(); at += 10) {
        ASSERT_EQ(10, comm_->CommWrite(1, pattern.substr(at, 10))) << reportOf(*comm_);
        std::string part;
        ASSERT_GE(comm_->CommRead(1, part, 64), 0) << reportOf(*comm_);
        received += part;
    }
    received += readEcho(*comm_, pattern.size() - received.size(), end_->patience());
    EXPECT_EQ(pattern, received);
}

TEST_P(EchoSuite, EveryByteValueSurvives)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    std::int32_t written = 0;
    for (std::size_t at = 0; at < all.size(); at += 64) // each write stays within the queue
        written += comm_->CommWrite(1, all.substr(at, 64));
    ASSERT_EQ(256, written) << reportOf(*comm_);
    EXPECT_EQ(all, readEcho(*comm_, all.size(), end_->patience()));
}

} // namespace echosuite
