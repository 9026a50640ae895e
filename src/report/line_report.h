#pragma once
// The line test of a full loopback plug as every report shows it: the text
// of `lines` and of an echo run with --lines, its JSON object, and the flat
// field a run record carries (one CSV column per input).
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/line_test.h"

namespace report {

// Several lines, no final newline:
//   Lines on COM1: FAIL  (longest settle 0.2 ms, limit 250 ms)
//     RTS  -> CTS  PASS  settle 0.2 ms
//     DTR  -> DSR  FAIL  DSR follows RTS: DTR and RTS are crossed
//     ...
//     lines put back: RTS on, DTR on
std::string lineTestText(const echotest::LineTestResult &result, const std::string &port);
// {"type":"lines","port","verdict","wires":[{"output","input","verdict",
// "settle_ms","fault"}],"not_checked","settle_ms","settle_limit_ms",
// "lines_before","lines_after","restored"}; for a port without lines only
// type, port, verdict and message.
nlohmann::ordered_json lineTestJson(const echotest::LineTestResult &result, const std::string &port);

// The run record's field: {"verdict","settle_ms","cts","dsr","dcd","ri",
// "restored"}, each input "PASS", its fault, or null where not checked.
inline constexpr const char *kLineFieldKeys[] = {"verdict", "settle_ms", "cts", "dsr", "dcd", "ri", "restored"};
nlohmann::ordered_json lineFieldJson(const echotest::LineTestResult &result);

// The faults of the wires that failed, "; "-separated ("" when none).
std::string lineFaultsText(const echotest::LineTestResult &result);

// The line tests of a series of runs on one port, wire by wire.
struct LineTally {
    struct Wire {
        std::string name;              // "RTS -> CTS"
        std::int64_t passes = 0;
        std::int64_t failures = 0;
        double longestSettleMs = 0;    // over the passes
        std::string lastFault;
    };
    std::int64_t runs = 0;             // runs whose lines were judged
    std::int64_t failedRuns = 0;
    std::vector<Wire> wires;           // in the order they were first met

    void add(const echotest::LineTestResult &result);
};

} // namespace report
