#pragma once
// The reporters that write a file: CSV (a row per run), JUnit XML (a test
// suite per port, a test case per run) and the HTML report with plots.
// Each opens its file when made, so that a path that cannot be written is
// told before the first run, not after an hour of soak.
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/run_reporter.h"
#include "report/flow_report.h"
#include "report/line_report.h"

namespace report {

// Common to the reporters that write a file.
class FileReporter : public echotest::RunReporter {
public:
    // What the file is, for messages: "the report", "the CSV file".
    FileReporter(std::string path, std::string what, bool openNow = true);
    // Empty while all is well; else the message to show.
    std::string failure() const;

protected:
    std::ostream &out() { return file_; }
    void open();
    // Closes the file, noting a failure to write it.
    void close();

    std::string path_;
    std::string what_;
    std::ofstream file_;
    bool failed_ = false;
};

// CSV (RFC 4180): a header, then one row per judged or aborted run with the
// fields of the JSON run object as columns; an object's keys get a column
// each ("line_rate.baud"), a list is one cell of numbers separated by
// blanks.  Rows are written as the runs end.
class CsvReporter final : public FileReporter {
public:
    explicit CsvReporter(const std::string &path);
    void begin(const echotest::SeriesInfo &, const std::vector<echotest::ReportedPort> &) override;
    void reportRun(const echotest::RunRecord &record) override;
    void reportPortEnd(const echotest::PortEnd &) override {}
    void finish(const echotest::SeriesInfo &) override { close(); }
};

// The header and a row, as CSV writes them (without the line end).
std::string csvHeader();
std::string csvRow(const echotest::RunRecord &record);
// A cell, quoted where it has to be.
std::string csvCell(const std::string &text);

// JUnit XML: <testsuites> with a <testsuite> per port (in the order the
// ports were given) and a <testcase> per run; a FAIL has a <failure> with
// what went wrong and where the first fault was, an aborted run or a port
// that could not be opened an <error>.  tests, failures and errors are
// counted on every suite and on the whole.
class JunitReporter final : public FileReporter {
public:
    explicit JunitReporter(const std::string &path);
    void begin(const echotest::SeriesInfo &info, const std::vector<echotest::ReportedPort> &ports) override;
    void reportRun(const echotest::RunRecord &record) override;
    void reportPortEnd(const echotest::PortEnd &) override {}
    void finish(const echotest::SeriesInfo &info) override;

private:
    struct Suite {
        std::string name;
        int tests = 0;
        int failures = 0;
        int errors = 0;
        double seconds = 0;
        std::string properties; // the plan, as a <properties> element
        std::string cases;      // the <testcase> elements, written out
    };
    std::vector<Suite> suites_;
    std::map<std::string, size_t> suiteOf_;
    std::string timestamp_;
};

// Text for XML content and attribute values.
std::string xmlEscaped(const std::string &text);

// The HTML report with the plots of each port, written at the end.
class HtmlReporter final : public FileReporter {
public:
    HtmlReporter(const std::string &path, std::string version);
    void reportRun(const echotest::RunRecord &record) override;
    void reportPortEnd(const echotest::PortEnd &end) override;
    void finish(const echotest::SeriesInfo &info) override;

private:
    struct Port {
        echotest::ReportedPort port;
        echotest::RunStatistics statistics;
        LineTally lines;
        FlowTally flows;
    };
    std::string version_;
    std::vector<Port> ports_;
    std::map<std::string, LineTally> lines_; // by port name, until the port ends
    std::map<std::string, FlowTally> flows_; // likewise
};

} // namespace report
