#pragma once
// The one place where the records of a series get their field names and
// their number formats.  JSON Lines, CSV and JUnit read the run's fields
// from runFields(); adding a field to the table adds it to every format.
// The texts the reporters share (a verdict, a byte, a failed run in words,
// the line errors) are written here too.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/run_reporter.h"

namespace report {

using nlohmann::ordered_json;

// One field of a run record.
struct RunField {
    const char *name;
    // For a field whose value is an object: its keys, in order; each is a
    // CSV column of its own ("line_rate.baud").  Empty for a plain value.
    std::vector<const char *> keys;
    // The value for a run; nullopt where the run has no such field (the
    // field is left out of its JSON object, its CSV cells are empty).
    std::optional<ordered_json> (*value)(const echotest::RunRecord &record);
};

// The fields of a run record, in the order JSON and CSV write them.
const std::vector<RunField> &runFields();

// A run as one JSON object: {"type":"run", ...the fields...}.
ordered_json runJson(const echotest::RunRecord &record);

// The time of the last read a report gives: the last read that went through,
// none when the port went before any did, else the window's figure.
std::optional<int64_t> reportedLastReadMs(const echotest::RunResult &result);

// "PASS", "FAIL", "ABORTED".
const char *verdictText(echotest::Verdict verdict);

// The line errors as reports name them, in this order: framing, overrun
// (the UART's and the buffer's), parity, break.
struct LineErrorKind {
    const char *name;
    uint64_t count;
};
std::array<LineErrorKind, 4> lineErrorKinds(const serial::LineErrorCounts &counts);
ordered_json lineErrorsJson(const serial::LineErrorCounts &counts);
// "framing 0, overrun 2, parity 0, break 0".
std::string lineErrorsText(const serial::LineErrorCounts &counts);

// "received in error (parity or framing) at bytes 17, 42": the positions,
// the first ten of them, in the received bytes.
std::string lineErrorPositionsText(const std::vector<int32_t> &positions);

ordered_json lineRateJson(const echotest::LineRateEstimate &rate, double requested);

// Where a failed run went wrong, in words: "3 wrong, 0 missing, 0 extra;
// first at byte 17: expected 'R' (0x52), got 'r' (0x72)", with the line
// errors where there were any, the handshake lines' faults and a sender
// the driver did not hold under load.
std::string failureText(const echotest::RunResult &result);
// The frame as records name it: "8N1", "7E1 rtscts", "8N2 xonxoff".
std::string frameText(const echotest::TestPlan &plan);

// Number formats.
std::string fixed(double value, int decimals); // "12.50"
std::string rateText(double rate);             // three significant digits: "1.2e-05"
// A byte as a person reads it: 'A' (0x41), or 0x1b where it has no face.
std::string byteText(unsigned char byte);

// Bytes as JSON-safe UTF-8: each byte is taken as the code point of the
// same value, so any received data round-trips through a JSON parser.
std::string bytesAsUtf8(const std::string &bytes);

} // namespace report
