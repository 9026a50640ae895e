#pragma once
// The reporters of the terminal: the messages of the runs, the text lines
// and JSON Lines.  Each writes whole lines to a sink (the command line's
// standard output or standard error).
#include <functional>
#include <string>

#include "engine/run_reporter.h"

namespace report {

using LineSink = std::function<void(const std::string &line)>;

// The runs' messages (why a port could not be opened, that it was lost),
// one per line, as the window would show them.
class MessageReporter final : public echotest::RunReporter {
public:
    explicit MessageReporter(LineSink sink) : sink_(std::move(sink)) {}
    void reportRun(const echotest::RunRecord &record) override;
    void reportPortEnd(const echotest::PortEnd &) override {}

private:
    LineSink sink_;
};

// Lines for a person: a line per run (in a soak only the runs that did not
// pass), a summary per port, and the statistics where a port ran more than
// once.
class TextReporter final : public echotest::RunReporter {
public:
    explicit TextReporter(LineSink sink) : sink_(std::move(sink)) {}
    void begin(const echotest::SeriesInfo &info, const std::vector<echotest::ReportedPort> &ports) override;
    void reportRun(const echotest::RunRecord &record) override;
    void reportPortEnd(const echotest::PortEnd &end) override;

private:
    LineSink sink_;
    bool soak_ = false;
    bool named_ = false; // several ports: each summary names its port
};

// JSON Lines: an object per run, an "error" object for a port that could
// not be opened, and at the end a "summary" and a "statistics" object per
// port.
class JsonLinesReporter final : public echotest::RunReporter {
public:
    explicit JsonLinesReporter(LineSink sink) : sink_(std::move(sink)) {}
    void reportRun(const echotest::RunRecord &record) override;
    void reportPortEnd(const echotest::PortEnd &end) override;

private:
    LineSink sink_;
};

// The texts of the text reporter, one call each.
std::string runText(const echotest::RunRecord &record);
std::string summaryText(const echotest::PortEnd &end, bool named);
std::string statisticsText(const echotest::PortEnd &end);

} // namespace report
