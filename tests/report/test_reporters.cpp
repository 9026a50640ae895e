// The reporters on made-up results: what each format writes for a pass, a
// failure, an abort and a port that could not be opened, and that the
// formats agree with each other.  The runs themselves are tested in
// tests/cli against virtual echo plugs.
#include <algorithm>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "engine/port_session.h"
#include "report/console_reporters.h"
#include "report/file_reporters.h"
#include "report/html_report.h"
#include "report/record_fields.h"

namespace {

using echotest::RunRecord;
using echotest::RunResult;
using echotest::Verdict;
namespace fs = std::filesystem;

echotest::ReportedPort portNamed(const std::string &name)
{
    echotest::ReportedPort port{name, {}, {}};
    port.plan.baud = echotest::readBaudText("115200");
    return port;
}

RunResult passed()
{
    RunResult r;
    r.verdict = Verdict::Pass;
    r.baud = 115200;
    r.expected = 1000;
    r.sent = r.received = 1000;
    r.sendMs = 3;
    r.lastReadMs = 88;
    r.lineTimeMs = 87;
    r.timeoutMs = 187;
    r.receivedText = "ABC";
    r.firstByteMs = 0.5;
    return r;
}

RunResult failed()
{
    RunResult r = passed();
    r.verdict = Verdict::Fail;
    r.received = 999;
    r.receivedText = "AB\xE9";
    r.diff.wrongBytes = 2;
    r.diff.missingBytes = 1;
    r.diff.errorPositions = {17, 40, 41};
    r.diff.first = echotest::EchoDiff::FirstError{17, 'R', 'r'};
    r.lineErrorCounts.framing = 1;
    r.lineErrorCounts.overrun = 1;
    r.lineErrorCounts.bufferOverrun = 1;
    return r;
}

RunResult aborted()
{
    RunResult r = passed();
    r.verdict = Verdict::Aborted;
    r.sendMs = r.lastReadMs = -1;
    return r;
}

RunResult openFailed()
{
    RunResult r;
    r.verdict = Verdict::OpenFailed;
    r.baud = 115200;
    return r;
}

// A series of two ports: A passes, fails with a message that needs quoting,
// is aborted; B cannot be opened.
struct Series {
    echotest::ReportedPort a = portNamed("/dev/pts/9");
    echotest::ReportedPort b = portNamed("COM3");
    RunResult results[4] = {passed(), failed(), aborted(), openFailed()};
    std::vector<RunRecord> records{{a, 1, results[0], ""},
                                   {a, 2, results[1], "Line \"lost\", <twice>\nthen back"},
                                   {a, 3, results[2], ""},
                                   {b, 1, results[3], "COM3 does not exist!    "}};
    echotest::RunStatistics statistics{1000};
    echotest::RunTally tally{1, 1, 2000, 1999};

    void feed(echotest::RunReporter &reporter) const
    {
        echotest::SeriesInfo info;
        info.seconds = 1.25;
        reporter.begin(info, {a, b});
        for (const RunRecord &record : records)
            reporter.reportRun(record);
        reporter.reportPortEnd({a, tally, statistics, ""});
        reporter.reportPortEnd({b, {}, statistics, "COM3 does not exist!    "});
        reporter.finish(info);
    }
};

std::string fileText(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// RFC 4180 records, read back: quoted cells may hold commas, quotes and
// line breaks.
std::vector<std::vector<std::string>> csvRecords(const std::string &text)
{
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string &cell = rows.back().back();
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            cell += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            rows.back().emplace_back();
        else if (!quoted && c == '\r' && text.compare(i, 2, "\r\n") == 0 && ++i)
            rows.emplace_back(1);
        else
            cell += c;
    }
    rows.pop_back(); // after the last line end
    return rows;
}

// The file validates against the JUnit schema CI servers read (where
// xmllint is installed).
void expectValidJunit([[maybe_unused]] const fs::path &path, [[maybe_unused]] const std::string &xml)
{
#ifdef REBOUNCE_XMLLINT
    const std::string command = std::string(REBOUNCE_XMLLINT) + " --noout --schema " + REBOUNCE_JUNIT_XSD + " "
        + path.string() + " 2>&1";
    EXPECT_EQ(0, std::system(command.c_str())) << xml;
#endif
}

class FileReporterTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path()
        / ("rebounce-reporters-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    const fs::path csvPath = dir / "runs.csv", junitPath = dir / "runs.xml", htmlPath = dir / "runs.html";
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    // Feeds series to the CSV, JUnit and HTML reporters, which write their
    // files when they go.
    template <class SeriesOf> void writeFiles(SeriesOf &series)
    {
        report::CsvReporter csv(csvPath.string());
        report::JunitReporter junit(junitPath.string());
        report::HtmlReporter html(htmlPath.string(), "test");
        for (echotest::RunReporter *reporter : std::initializer_list<echotest::RunReporter *>{&csv, &junit, &html})
            series.feed(*reporter);
    }
};

// Row n of CSV text (1: the first after the header) by column name.
std::map<std::string, std::string> csvRow(const std::vector<std::vector<std::string>> &rows, size_t n)
{
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < rows[0].size() && n < rows.size(); ++i)
        row[rows[0][i]] = rows[n][i];
    return row;
}

TEST(JsonLinesReporter, WritesEachRecordWithItsFieldsInOrder)
{
    Series series;
    std::vector<std::string> lines;
    report::JsonLinesReporter reporter([&lines](const std::string &line) { lines.push_back(line); });
    series.feed(reporter);
    ASSERT_EQ(8u, lines.size()); // 3 runs, 1 error, a summary and statistics per port
    EXPECT_EQ(R"({"type":"run","run":1,"verdict":"PASS","port":"/dev/pts/9","baud":115200,"sent":1000,)"
              R"("received":1000,"send_ms":3,"last_read_ms":88,"min_transmit_ms":87,"timeout_ms":187,)"
              R"("received_text":"ABC","first_byte_ms":0.5,"line_rate":null,)"
              R"("line_errors":{"framing":0,"overrun":0,"parity":0,"break":0},)"
              R"("pattern":"spec","pattern_length":1000,"chunk":10,"frame":"8N1",)"
              R"("position":null,"usb_id":null,"serial_number":null,"interface":null,"usb_path":null,"by_id":null,)"
              R"("driver":null,"latency_timer_ms":null,"low_latency":null})",
              lines[0]);
    const auto fail = nlohmann::json::parse(lines[1]);
    EXPECT_EQ("AB\u00e9", fail["received_text"]); // a byte over 0x7f as its code point
    EXPECT_EQ("Line \"lost\", <twice>\nthen back", fail["message"]);
    EXPECT_EQ((nlohmann::json{{"framing", 1}, {"overrun", 2}, {"parity", 0}, {"break", 0}}), fail["line_errors"]);
    EXPECT_EQ((nlohmann::json{{"position", 17}, {"expected", 'R'}, {"received", 'r'}}), fail["first_error"]);
    EXPECT_EQ((nlohmann::json{17, 40, 41}), fail["error_positions"]);
    EXPECT_EQ(2, fail["wrong_bytes"]);
    EXPECT_FALSE(nlohmann::json::parse(lines[0]).contains("wrong_bytes")) << "failure fields only for a FAIL";
    EXPECT_EQ("ABORTED", nlohmann::json::parse(lines[2])["verdict"]);
    EXPECT_EQ(R"({"type":"error","port":"COM3","exit_status":3,"message":"COM3 does not exist!    "})", lines[3]);
    EXPECT_EQ(R"({"type":"summary","port":"/dev/pts/9","passes":1,"failures":1,"total_sent":2000,"total_received":1999})",
              lines[4]);
    EXPECT_EQ("statistics", nlohmann::json::parse(lines[5])["type"]);
    EXPECT_EQ("COM3 does not exist!    ", nlohmann::json::parse(lines[6])["error"]);
}

TEST(TextReporter, WritesRunsSummariesAndMessages)
{
    Series series;
    std::vector<std::string> lines, messages;
    report::TextReporter text([&lines](const std::string &line) { lines.push_back(line); });
    report::MessageReporter message([&messages](const std::string &line) { messages.push_back(line); });
    series.feed(text);
    series.feed(message);
    const std::vector<std::string> expected = {
        "Run 1: PASS  /dev/pts/9 at 115200 baud  sent 1000/1000  received 1000/1000  send 3 ms  last read 88 ms  "
        "(line time 87 ms, time-out 187 ms)",
        "Run 2: FAIL  /dev/pts/9 at 115200 baud  sent 1000/1000  received 999/1000  send 3 ms  last read 88 ms  "
        "(line time 87 ms, time-out 187 ms)\n"
        "    2 wrong, 1 missing, 0 extra; first at byte 17: expected 'R' (0x52), got 'r' (0x72); "
        "line errors: framing 1, overrun 2, parity 0, break 0",
        "Run 3: ABORTED (/dev/pts/9, 115200 baud)",
        "/dev/pts/9: Passes: 1  Failures: 1  Total bytes sent: 2000  Total bytes received: 1999",
        "COM3: Passes: 0  Failures: 0  Total bytes sent: 0  Total bytes received: 0",
    };
    EXPECT_EQ(expected, lines);
    EXPECT_EQ((std::vector<std::string>{series.records[1].message, series.records[3].message}), messages);
}

TEST(TextReporter, StatisticsNameTheLineErrorsOnce)
{
    echotest::RunStatistics statistics(1000);
    for (int i = 0; i < 3; ++i) {
        echotest::RunSample sample = echotest::sampleOf(i == 1 ? failed() : passed(), i * 0.5);
        statistics.add(sample);
    }
    const echotest::ReportedPort port = portNamed("/dev/pts/9");
    const std::string text = report::statisticsText({port, {}, statistics, ""});
    EXPECT_EQ(0u, text.find("/dev/pts/9 at 115200 baud: 3 runs, 2 passed, 1 failed\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\n  line errors      framing 1, overrun 2, parity 0, break 0\n")) << text;
    EXPECT_NE(std::string::npos, text.find("(line time 87 ms)")) << text;
    EXPECT_NE(std::string::npos, text.find("\n  failures at      0.5 s")) << text;
}

TEST_F(FileReporterTest, CsvHasAHeaderAndARowPerRunThatReadsBack)
{
    Series series;
    const fs::path path = dir / "runs.csv";
    {
        report::CsvReporter csv(path.string());
        ASSERT_EQ("", csv.failure());
        series.feed(csv);
        EXPECT_EQ("", csv.failure());
    }
    const auto rows = csvRecords(fileText(path));
    ASSERT_EQ(4u, rows.size()) << "a header and the three runs; the port that did not open has no run";
    const std::vector<std::string> &header = rows[0];
    EXPECT_EQ("run,verdict,port,baud,sent,received,send_ms,last_read_ms,min_transmit_ms,timeout_ms,received_text,"
              "message,first_byte_ms,network_round_trip_ms,line_rate.baud,line_rate.uncertainty,line_rate.differs,line_errors.framing,"
              "line_errors.overrun,line_errors.parity,line_errors.break,wrong_bytes,missing_bytes,extra_bytes,"
              "first_error.position,first_error.expected,first_error.received,error_positions,"
              "pattern,pattern_length,chunk,frame,listen_port,back_on_sender,rs485,lines.verdict,"
              "lines.settle_ms,lines.cts,lines.dsr,lines.dcd,lines.ri,lines.restored,"
              "position,usb_id,serial_number,interface,usb_path,by_id,driver,latency_timer_ms,low_latency,"
              "flow_load.reader_pause_ms,flow_load.sender_held_ms,flow_load.holds,flow_load.sent_during_pause,"
              "flow_load.outcome,line_error_positions",
              report::csvHeader());
    std::map<std::string, std::string> fail;
    for (const auto &row : rows)
        ASSERT_EQ(header.size(), row.size());
    for (size_t i = 0; i < header.size(); ++i)
        fail[header[i]] = rows[2][i];
    EXPECT_EQ("FAIL", fail["verdict"]);
    EXPECT_EQ(series.records[1].message, fail["message"]);
    EXPECT_EQ("AB\u00e9", fail["received_text"]);
    EXPECT_EQ("0.5", fail["first_byte_ms"]);
    EXPECT_EQ("", fail["line_rate.baud"]);
    EXPECT_EQ("2", fail["line_errors.overrun"]);
    EXPECT_EQ("82", fail["first_error.expected"]);
    EXPECT_EQ("17 40 41", fail["error_positions"]);
    EXPECT_EQ("spec", fail["pattern"]);
    EXPECT_EQ("8N1", fail["frame"]);
    EXPECT_EQ("", fail["listen_port"]);
    const auto wrongBytes = std::find(header.begin(), header.end(), "wrong_bytes") - header.begin();
    ASSERT_LT(wrongBytes, static_cast<std::ptrdiff_t>(header.size()));
    EXPECT_EQ("", rows[1][wrongBytes]) << "no failure fields for a PASS";
}

TEST(CsvCell, QuotesOnlyWhatNeedsIt)
{
    const std::pair<const char *, const char *> cases[] = {
        {"plain", "plain"}, {"", ""}, {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""},
    };
    for (const auto &[text, cell] : cases)
        EXPECT_EQ(cell, report::csvCell(text)) << text;
}

TEST_F(FileReporterTest, JunitCountsRunsFailuresAndErrorsPerPortAndValidates)
{
    Series series;
    const fs::path path = dir / "runs.xml";
    {
        report::JunitReporter junit(path.string());
        series.feed(junit);
        EXPECT_EQ("", junit.failure());
    }
    const std::string xml = fileText(path);
    EXPECT_NE(std::string::npos, xml.find(R"(<testsuites name="rebounce echo" tests="4" failures="1" errors="2")"))
        << xml;
    EXPECT_NE(std::string::npos, xml.find(R"(<testsuite name="/dev/pts/9" id="0" tests="3" failures="1" errors="1")"))
        << xml;
    EXPECT_NE(std::string::npos, xml.find(R"(<testsuite name="COM3" id="1" tests="1" failures="0" errors="1")")) << xml;
    EXPECT_NE(std::string::npos, xml.find(R"(<property name="frame" value="8N1"/>)")) << xml;
    EXPECT_NE(std::string::npos, xml.find("<failure type=\"FAIL\" message=\"Line &quot;lost&quot;, &lt;twice&gt;&#10;"
                                          "then back\">2 wrong, 1 missing, 0 extra; first at byte 17"))
        << xml;
    const std::regex testcase("<testcase ");
    EXPECT_EQ(4, std::distance(std::sregex_iterator(xml.begin(), xml.end(), testcase), std::sregex_iterator()));
    expectValidJunit(path, xml);
}

TEST(XmlEscaped, KeepsTheDocumentWellFormedForAnyByte)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a&b<c>\"d", "a&amp;b&lt;c&gt;&quot;d"},
        {"line\n\tnext", "line&#10;&#9;next"},
        {"\x01\x1b", "\\x01\\x1b"},               // no control characters in XML 1.0
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"}, // UTF-8 stays
        {"\xE9t\xC3", "\\xe9t\\xc3"},               // a stray byte is no UTF-8
    };
    for (const auto &[text, escaped] : cases)
        EXPECT_EQ(escaped, report::xmlEscaped(text)) << text;
}

TEST_F(FileReporterTest, APathThatCannotBeWrittenIsToldBeforeTheFirstRun)
{
    const std::string path = (dir / "no-such-folder" / "x").string();
    EXPECT_EQ("Cannot write the CSV file " + path + ".", report::CsvReporter(path).failure());
    EXPECT_EQ("Cannot write the JUnit file " + path + ".", report::JunitReporter(path).failure());
    report::HtmlReporter html(path, "test");
    EXPECT_EQ("", html.failure()) << "the report is written at the end";
    Series().feed(html);
    EXPECT_EQ("Cannot write the report " + path + ".", html.failure());
}

// ---- The line test in every format -------------------------------------

namespace ml = serial::modemline;

echotest::LineTestResult linesOf(bool dsrCrossed)
{
    echotest::LineTestResult lines;
    lines.verdict = dsrCrossed ? echotest::LineVerdict::Fail : echotest::LineVerdict::Pass;
    lines.checkedInputs = ml::cts | ml::dsr | ml::dcd;
    lines.settleMs = 0.25;
    lines.settleLimitMs = 250;
    lines.linesBefore = lines.linesAfter = ml::rts | ml::dtr;
    lines.restored = true;
    lines.wires = {{{ml::rts, ml::cts}, true, "", 0.25},
                   {{ml::dtr, ml::dsr}, !dsrCrossed, dsrCrossed ? "DSR follows RTS: DTR and RTS are crossed" : "", 0.25},
                   {{ml::dtr, ml::dcd}, true, "", 0.25}};
    return lines;
}

// One port, two runs with the line test: the first passes; the second
// echoes every byte, but its DSR follows RTS.
struct LineSeries {
    echotest::ReportedPort port = portNamed("COM1");
    RunResult results[2] = {withLines(false), withLines(true)};
    std::vector<RunRecord> records{{port, 1, results[0], ""}, {port, 2, results[1], ""}};
    echotest::RunStatistics statistics{1000};

    static RunResult withLines(bool dsrCrossed)
    {
        RunResult result = passed();
        result.lines = linesOf(dsrCrossed);
        if (dsrCrossed)
            result.verdict = Verdict::Fail;
        return result;
    }
    void feed(echotest::RunReporter &reporter) const
    {
        echotest::SeriesInfo info;
        reporter.begin(info, {port});
        for (const RunRecord &record : records)
            reporter.reportRun(record);
        reporter.reportPortEnd({port, {1, 1, 2000, 2000}, statistics, ""});
        reporter.finish(info);
    }
};

TEST(LineReports, JsonAndTextCarryEveryWire)
{
    LineSeries series;
    std::vector<std::string> json, text;
    report::JsonLinesReporter jsonLines([&json](const std::string &line) { json.push_back(line); });
    report::TextReporter textLines([&text](const std::string &line) { text.push_back(line); });
    series.feed(jsonLines);
    series.feed(textLines);
    ASSERT_EQ(4u, json.size());
    EXPECT_EQ(R"({"verdict":"PASS","settle_ms":0.25,"cts":"PASS","dsr":"PASS","dcd":"PASS","ri":null,"restored":true})",
              nlohmann::ordered_json::parse(json[0])["lines"].dump());
    EXPECT_EQ("DSR follows RTS: DTR and RTS are crossed", nlohmann::json::parse(json[1])["lines"]["dsr"]);
    EXPECT_EQ("FAIL", nlohmann::json::parse(json[1])["lines"]["verdict"]);
    ASSERT_EQ(3u, text.size());
    EXPECT_EQ("Run 2: FAIL  COM1 at 115200 baud  sent 1000/1000  received 1000/1000  send 3 ms  last read 88 ms  "
              "(line time 87 ms, time-out 187 ms)\n"
              "    0 wrong, 0 missing, 0 extra; handshake lines: DSR follows RTS: DTR and RTS are crossed\n"
              "    Lines on COM1: FAIL  (longest settle 0.2 ms, limit 250 ms)\n"
              "      RTS  -> CTS  PASS  settle 0.2 ms\n"
              "      DTR  -> DSR  FAIL  DSR follows RTS: DTR and RTS are crossed\n"
              "      DTR  -> DCD  PASS  settle 0.2 ms\n"
              "      RI not checked (--ri checks it)\n"
              "      lines put back: RTS on, DTR on",
              text[1]);
    EXPECT_NE(std::string::npos, text[0].find("\n    Lines on COM1: PASS")) << text[0];
}

TEST_F(FileReporterTest, CsvJunitAndHtmlCarryTheLineTest)
{
    LineSeries series;
    writeFiles(series);
    const auto rows = csvRecords(fileText(csvPath));
    ASSERT_EQ(3u, rows.size());
    auto second = csvRow(rows, 2);
    EXPECT_EQ("FAIL", second["lines.verdict"]);
    EXPECT_EQ("PASS", second["lines.cts"]);
    EXPECT_EQ("DSR follows RTS: DTR and RTS are crossed", second["lines.dsr"]);
    EXPECT_EQ("", second["lines.ri"]);
    EXPECT_EQ("true", second["lines.restored"]);

    const std::string xml = fileText(junitPath);
    EXPECT_NE(std::string::npos, xml.find(R"(<failure type="FAIL" message="The handshake lines failed">)")) << xml;
    EXPECT_NE(std::string::npos, xml.find("<system-out>Lines on COM1: PASS")) << xml;
    expectValidJunit(junitPath, xml);

    const std::string page = fileText(htmlPath);
    EXPECT_NE(std::string::npos, page.find("<h3>Handshake lines</h3>")) << page.substr(0, 3000);
    EXPECT_NE(std::string::npos, page.find("<th>Runs with the line test</th><td>2, 1 failed</td>"));
    EXPECT_NE(std::string::npos, page.find("<th>RTS -&gt; CTS</th><td>2 PASS, 0 FAIL; longest settle 0.2 ms</td>"));
    EXPECT_NE(std::string::npos, page.find("<th>DTR -&gt; DSR</th><td>1 PASS, 1 FAIL; longest settle 0.2 ms; last "
                                           "fault: DSR follows RTS: DTR and RTS are crossed</td>"));
}

// ---- Flow control under load in every format -----------------------------

// Two runs with a reader pause on one port: the sender held (PASS), and a
// driver that never held it (FAIL although the echo came back whole).
TEST_F(FileReporterTest, EveryFormatCarriesFlowControlUnderLoad)
{
    using Outcome = echotest::FlowLoadResult::Outcome;
    LineSeries series;
    for (int i = 0; i < 2; ++i) {
        RunResult &result = series.results[i];
        result.lines.reset();
        result.verdict = i == 0 ? Verdict::Pass : Verdict::Fail;
        result.flowLoad = echotest::FlowLoadResult{2000, echotest::Frame::Flow::RtsCts, i == 0 ? 312 : 0, i == 0 ? 3 : 0,
                                                   i == 0 ? 4351 : 65536, i == 0 ? Outcome::Held : Outcome::NotHeld};
    }
    std::vector<std::string> json, text;
    report::JsonLinesReporter jsonLines([&json](const std::string &line) { json.push_back(line); });
    report::TextReporter textLines([&text](const std::string &line) { text.push_back(line); });
    series.feed(jsonLines);
    series.feed(textLines);
    EXPECT_EQ(R"({"reader_pause_ms":2000,"sender_held_ms":312,"holds":3,"sent_during_pause":4351,"outcome":"held"})",
              nlohmann::ordered_json::parse(json[0])["flow_load"].dump());
    EXPECT_EQ("not held", nlohmann::json::parse(json[1])["flow_load"]["outcome"]);
    EXPECT_NE(std::string::npos, text[0].find("\n    Flow control rtscts under load: reader paused 2000 ms, sender "
                                              "held 312 ms (3 times), 4351 bytes sent meanwhile"))
        << text[0];
    EXPECT_NE(std::string::npos, text[1].find("0 wrong, 0 missing, 0 extra; the driver did not hold the sender "
                                              "(rtscts, 65536 bytes sent during the reader's pause)\n    Flow control "
                                              "rtscts under load: reader paused 2000 ms, sender held 0 ms, 65536 bytes "
                                              "sent meanwhile: the driver did not hold the sender"))
        << text[1];

    writeFiles(series);
    const auto rows = csvRecords(fileText(csvPath));
    ASSERT_EQ(3u, rows.size());
    auto first = csvRow(rows, 1);
    EXPECT_EQ("312", first["flow_load.sender_held_ms"]);
    EXPECT_EQ("held", first["flow_load.outcome"]);
    const std::string xml = fileText(junitPath);
    EXPECT_NE(std::string::npos, xml.find(R"(<failure type="FAIL" message="The driver did not hold the sender">)"))
        << xml;
    EXPECT_NE(std::string::npos, xml.find("<system-out>Flow control rtscts under load: reader paused")) << xml;
    expectValidJunit(junitPath, xml);
    const std::string page = fileText(htmlPath);
    EXPECT_NE(std::string::npos, page.find("<h3>Flow control under load</h3>")) << page.substr(0, 3000);
    EXPECT_NE(std::string::npos, page.find("<th>Sender held</th><td>1 runs; longest 312 ms, 312 ms in all</td>"));
    EXPECT_NE(std::string::npos, page.find("<th>The driver did not hold the sender</th><td>1 runs (FAIL)</td>"));
}

TEST_F(FileReporterTest, RunsWithoutTheLineTestHaveNoLinesAnywhere)
{
    Series series;
    {
        report::HtmlReporter html(htmlPath.string(), "test");
        series.feed(html);
    }
    EXPECT_EQ(std::string::npos, fileText(htmlPath).find("Handshake lines"));
    std::vector<std::string> json;
    report::JsonLinesReporter jsonLines([&json](const std::string &line) { json.push_back(line); });
    series.feed(jsonLines);
    EXPECT_FALSE(nlohmann::json::parse(json[0]).contains("lines"));
    EXPECT_EQ(std::string::npos, fileText(htmlPath).find("Flow control under load"));
    EXPECT_FALSE(nlohmann::json::parse(json[0]).contains("flow_load"));
}

// Bytes the driver marked as received in error: the second run of two has
// two, of which one is the only fault (its byte read as expected).  Every
// format names where they were; the run without any says nothing of them.
TEST_F(FileReporterTest, PositionsOfBytesReceivedInErrorReachEveryFormat)
{
    echotest::ReportedPort port = portNamed("COM1");
    const RunResult plain = failed();
    RunResult marked = failed();
    marked.lineErrorPositions = {17, 512};
    const std::vector<RunRecord> records{{port, 1, plain, ""}, {port, 2, marked, ""}};
    echotest::RunStatistics statistics{1000};
    for (const RunRecord &record : records)
        statistics.add(echotest::sampleOf(record.result, 0));
    std::vector<std::string> text, json;
    {
        report::TextReporter textReporter([&text](const std::string &line) { text.push_back(line); });
        report::JsonLinesReporter jsonReporter([&json](const std::string &line) { json.push_back(line); });
        report::CsvReporter csv(csvPath.string());
        report::JunitReporter junit(junitPath.string());
        report::HtmlReporter html(htmlPath.string(), "test");
        for (echotest::RunReporter *reporter : std::initializer_list<echotest::RunReporter *>{
                 &textReporter, &jsonReporter, &csv, &junit, &html}) {
            echotest::SeriesInfo info;
            reporter->begin(info, {port});
            for (const RunRecord &record : records)
                reporter->reportRun(record);
            reporter->reportPortEnd({port, {0, 2, 2000, 1998}, statistics, ""});
            reporter->finish(info);
        }
    }
    const std::string said = "received in error (parity or framing) at bytes 17, 512";
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(std::string::npos, text[0].find("received in error")) << text[0];
    EXPECT_NE(std::string::npos, text[1].find("line errors: framing 1, overrun 2, parity 0, break 0; " + said))
        << text[1];
    EXPECT_FALSE(nlohmann::json::parse(json[0]).contains("line_error_positions"));
    EXPECT_EQ((nlohmann::json{17, 512}), nlohmann::json::parse(json[1])["line_error_positions"]);
    const auto rows = csvRecords(fileText(csvPath));
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ("line_error_positions", rows[0].back());
    EXPECT_EQ("", rows[1].back());
    EXPECT_EQ("17 512", rows[2].back());
    EXPECT_NE(std::string::npos, fileText(junitPath).find(said));
    EXPECT_NE(std::string::npos,
              fileText(htmlPath).find("<th>Bytes received in error (parity or framing)</th><td>2, at bytes 17, 512</td>"));
}

} // namespace
