// The soak report page: self-contained, and its plots render in a real
// browser (headless Chromium, when installed).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report/html_report.h"

namespace {

namespace fs = std::filesystem;

echotest::RunStatistics soakWithFaults()
{
    echotest::RunStatistics stats(1000);
    for (int run = 0; run < 200; ++run) {
        echotest::RunSample s;
        s.startSeconds = run * 0.1;
        s.expectedBytes = 1000;
        s.lastReadMs = 87 + run % 5;
        s.firstByteMs = 0.4 + (run % 3) * 0.1;
        s.pass = run % 50 != 7;
        if (!s.pass) {
            s.wrongBytes = 1;
            s.errorPositions = {500};
        }
        stats.add(s);
    }
    return stats;
}

std::string reportOf(const echotest::RunStatistics &stats, const std::string &name)
{
    std::ostringstream page;
    report::writeHtmlReport(page, {"2026-12-08 09:00:00", 20.0, "test"},
                            {{name, "115200", 115200, 86.8, 1000, &stats, "spec", "8N1", "", nullptr, {}}});
    return page.str();
}

// Runs a command and returns its standard output.
std::string outputOf(const std::string &command)
{
    std::string output;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    std::array<char, 4096> buffer;
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        output.append(buffer.data(), n);
    ::pclose(pipe);
    return output;
}

std::string chromium()
{
    for (const char *candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"}) {
        if (fs::exists(candidate))
            return candidate;
    }
    return {};
}

TEST(HtmlReport, NeedsNoNetworkAndEscapesWhatTheUserNamed)
{
    const auto stats = soakWithFaults();
    const std::string page = reportOf(stats, "/dev/<ttyUSB0>&</script>");
    EXPECT_EQ(std::string::npos, page.find("src=\"http"));
    EXPECT_EQ(std::string::npos, page.find("<link"));
    EXPECT_EQ(std::string::npos, page.find("<ttyUSB0>"));
    // The device name reaches the plot data, but cannot end the script early.
    EXPECT_EQ(std::string::npos, page.find("&</script>\""));
    EXPECT_NE(std::string::npos, page.find("Chart.js " + std::string(report::kChartJsVersion)));
    EXPECT_NE(std::string::npos, page.find("<td>4</td>"));  // failures
}

TEST(HtmlReport, PlotsRenderInAHeadlessBrowser)
{
    const std::string browser = chromium();
    if (browser.empty())
        GTEST_SKIP() << "no Chromium installed (Debian package chromium)";
    const fs::path dir = fs::temp_directory_path() / ("rebounce-report-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "report.html";
    const auto stats = soakWithFaults();
    std::ofstream(file) << reportOf(stats, "/dev/pts/9");

    const std::string dom = outputOf(
        "timeout 90 " + browser + " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
        " --disable-background-networking --disable-component-update --disable-sync --user-data-dir="
        + (dir / "profile").string() + " --virtual-time-budget=5000 --dump-dom file://" + file.string()
        + " 2>/dev/null");
    fs::remove_all(dir);
    ASSERT_FALSE(dom.empty()) << "the browser printed nothing";
    EXPECT_EQ(std::string::npos, dom.find("data-script-error")) << dom.substr(0, 400);
    EXPECT_NE(std::string::npos, dom.find("data-plots-drawn=\"3\""));
}

} // namespace
