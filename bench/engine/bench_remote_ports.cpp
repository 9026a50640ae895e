// Many ports on another machine: virtual echo plugs (in a child process)
// served by one ser2net of our own over RFC 2217 on the loopback, tested
// side by side by one rebounce-cli echo.  Prints whether every run passed,
// the network round trips, the last read minus the line time and the
// processor time of the tester and of ser2net.  Pseudo-terminals only; run
// it through tools/guard.sh as root.
//   bench_remote_ports [ports=32] [runs=5] [baud=115200] [instant]
// "instant": the plugs answer at once instead of at the line's pace, which
// leaves the run its whole line time for the network and the machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/echo_command.h"
#include "plug_host.h"
#include "process_time.h"
#include "support/ser2net_server.h"

namespace {

// utime + stime of another process, in seconds.
double cpuSecondsOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

template <class T> T at(std::vector<T> v, double q)
{
    if (v.empty())
        return T{};
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))];
}

} // namespace

int main(int argc, char **argv)
{
    const int ports = argc > 1 ? std::atoi(argv[1]) : 32;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const char *baud = argc > 3 ? argv[3] : "115200";
    if (const std::string why = testsupport::Ser2netServer::missing(); !why.empty()) {
        std::printf("skipped: %s\n", why.c_str());
        return 0;
    }
    const bool instant = argc > 4 && std::string(argv[4]) == "instant";
    serial::EchoPlugOptions plugOptions;
    plugOptions.lineTiming = !instant;
    bench::PlugHost host(ports, plugOptions);
    if (static_cast<int>(host.paths().size()) != ports) {
        std::printf("could not start %d plugs\n", ports);
        return 1;
    }
    std::vector<testsupport::Ser2netServer::Line> lines;
    for (const std::string &path : host.paths())
        lines.push_back({path, testsupport::Ser2netServer::Accepter::Rfc2217});
    testsupport::Ser2netServer server(lines);
    if (!server.start()) {
        std::printf("ser2net did not start: %s\n", server.errorText().c_str());
        return 1;
    }

    cli::EchoOptions options;
    for (int i = 0; i < ports; ++i)
        options.devices.push_back(server.url(static_cast<size_t>(i)));
    options.baud = baud;
    options.json = true;
    options.runs = runs;
    options.runsGiven = true;
    options.progress = false;

    std::ostringstream out, err;
    const double cpuBefore = bench::processCpuSeconds();
    const double serverBefore = cpuSecondsOf(server.pid());
    const auto start = std::chrono::steady_clock::now();
    const int status = cli::runEcho(options, out, err);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const double cpu = bench::processCpuSeconds() - cpuBefore;
    const double serverCpu = cpuSecondsOf(server.pid()) - serverBefore;

    int passes = 0, total = 0;
    std::vector<int> lateness;
    std::vector<double> roundTrips;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
        const auto object = nlohmann::json::parse(line);
        if (object["type"] == "error")
            std::printf("  %s: %s\n", object["port"].get<std::string>().c_str(),
                        object["message"].get<std::string>().c_str());
        if (object["type"] != "run")
            continue;
        ++total;
        if (object["verdict"] == "PASS")
            ++passes;
        else
            std::printf("  %s: %s, %d of 1000 back, last read %d ms, time-out %d ms%s\n",
                        object["port"].get<std::string>().c_str(), object["verdict"].get<std::string>().c_str(),
                        object["received"].get<int>(), object["last_read_ms"].get<int>(),
                        object["timeout_ms"].get<int>(), object.value("wrong_bytes", 0) ? ", wrong bytes" : "");
        if (object["verdict"] != "PASS" && object.contains("message"))
            std::printf("    %s\n", object["message"].get<std::string>().c_str());
        lateness.push_back(object["last_read_ms"].get<int>() - object["min_transmit_ms"].get<int>());
        if (object.contains("network_round_trip_ms"))
            roundTrips.push_back(object["network_round_trip_ms"].get<double>());
    }
    std::printf("%d remote ports (one ser2net, RFC 2217 on the loopback, plugs %s) at %s baud, %d runs each: %d of %d "
                "runs PASS (exit %d) in %.1f s\n",
                ports, instant ? "answering at once" : "paced at the line's rate", baud, runs, passes, total, status,
                wall.count());
    std::printf("  network round trip at open: median %.2f ms, worst %.2f ms\n", at(roundTrips, 0.5),
                roundTrips.empty() ? 0.0 : *std::max_element(roundTrips.begin(), roundTrips.end()));
    std::printf("  last read minus line time: median %d ms, 99%% %d ms, worst %d ms\n", at(lateness, 0.5),
                at(lateness, 0.99), lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end()));
    std::printf("  tester's processor: %.1f %% of one core; ser2net's: %.1f %% of one core\n",
                100.0 * cpu / wall.count(), 100.0 * serverCpu / wall.count());
    return passes == total && total == ports * runs ? 0 : 1;
}
