#pragma once
// Flow control under load as every report shows it: the run record's field
// (one CSV column per key) and the tally of a port's runs for the HTML page.
// The line of text is echotest::flowLoadText.
#include <cstdint>

#include <nlohmann/json.hpp>

#include "engine/echo_engine.h"

namespace report {

// {"reader_pause_ms","sender_held_ms","holds","sent_during_pause","outcome"};
// outcome: "held", "not held", "pause too short" or "no flow control".
inline constexpr const char *kFlowFieldKeys[] = {"reader_pause_ms", "sender_held_ms", "holds", "sent_during_pause",
                                                  "outcome"};
nlohmann::ordered_json flowFieldJson(const echotest::FlowLoadResult &result);

// The runs with a reader pause on one port.
struct FlowTally {
    std::int64_t runs = 0;
    std::int64_t held = 0;       // the sender was held
    std::int64_t notHeld = 0;    // flow control on, the sender never held: failed
    std::int64_t notFilled = 0;  // the pause too short to tell
    std::int64_t overrunRuns = 0; // runs whose driver counted an overrun
    std::uint64_t overruns = 0;
    std::int64_t longestHeldMs = 0;
    std::int64_t totalHeldMs = 0;

    void add(const echotest::RunResult &result);
};

} // namespace report
