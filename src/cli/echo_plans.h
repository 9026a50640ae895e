#pragma once
// From the echo command's options to the runner's plans: the ports named
// (with the unit behind each, looked up now), and each port's plan at each
// rate and in each direction.  Everything here is checked before any port
// is opened.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/echo_command.h"
#include "cli/station.h"
#include "engine/echo_engine.h"
#include "engine/line_test.h"
#include "engine/test_plan.h"

namespace cli {

class Output;

// The ports of a series: those named with --port and --device, then the
// positions of a fixture; each with the unit behind it, looked up now.
struct SeriesPorts {
    std::vector<std::unique_ptr<StationPort>> stations; // one per run port, in the same order
    std::vector<echotest::RunSettings> settings;
    std::vector<std::optional<echotest::Frame>> frames; // a fixture position's own frame
    std::vector<std::unique_ptr<StationPort>> empty;    // fixture positions with nothing plugged in
};

// Fills ports; a message and an exit status when they cannot be had.
std::optional<int> seriesPorts(const EchoOptions &options, Output &output, SeriesPorts &ports);

// The plans of every port given, and the lane each runs in: a port's
// rates and directions run one after the other, the ports side by side.
struct Plans {
    std::vector<echotest::RunSettings> settings;
    std::vector<int> lanes;
};

// What the options ask of every port: checked before anything is opened.
struct PlanParts {
    echotest::Pattern pattern;
    echotest::Frame frame;
    std::vector<std::string> sweep; // the rates of a sweep; empty: each port's own
    std::optional<echotest::LineTestOptions> lineTest;
};

// Empty with the reason in error for a plan that cannot run.
std::optional<PlanParts> planParts(const EchoOptions &options, std::string &error);

// Each port's plan at each rate and in each direction.
std::optional<Plans> plansOf(const EchoOptions &options, const PlanParts &parts, const SeriesPorts &ports,
                             std::string &error);

} // namespace cli
