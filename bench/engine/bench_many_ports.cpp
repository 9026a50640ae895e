// Many ports at once: 16 virtual echo plugs at 115200 baud tested side by
// side by one rebounce-cli echo.  Prints whether every run passed, the last
// read minus the line time (median, 99th percentile, worst) and the
// processor time of the tester (the plugs run in a child process) and how
// often it slept.
// Pseudo-terminals only; run it through tools/guard.sh as root.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "process_time.h"

#include <nlohmann/json.hpp>

#include "cli/echo_command.h"
#include "plug_host.h"

int main(int argc, char **argv)
{
    const int ports = argc > 1 ? std::atoi(argv[1]) : 16;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
    const char *baud = argc > 3 ? argv[3] : "115200";
    bench::PlugHost host(ports, {});
    if (static_cast<int>(host.paths().size()) != ports) {
        std::printf("could not start %d plugs\n", ports);
        return 1;
    }
    cli::EchoOptions options;
    options.devices = host.paths();
    options.baud = baud;
    options.json = true;
    options.runs = runs;
    options.runsGiven = true;
    options.progress = false;

    std::ostringstream out, err;
    const double cpuBefore = bench::processCpuSeconds();
    const long sleepsBefore = bench::voluntaryContextSwitches();
    const auto start = std::chrono::steady_clock::now();
    const int status = cli::runEcho(options, out, err);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const double cpu = bench::processCpuSeconds() - cpuBefore;
    const long sleeps = bench::voluntaryContextSwitches() - sleepsBefore;

    int passes = 0, total = 0;
    std::vector<int> lateness;
    std::vector<int> sendMs;
    std::vector<double> firstByteMs;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        const auto object = nlohmann::json::parse(line);
        if (object["type"] != "run")
            continue;
        ++total;
        if (object["verdict"] == "PASS")
            ++passes;
        else if (total - passes == 1)
            std::printf("  the first run that did not pass: %.300s ...\n", line.c_str());
        lateness.push_back(object["last_read_ms"].get<int>() - object["min_transmit_ms"].get<int>());
        sendMs.push_back(object["send_ms"].get<int>());
        if (object.contains("first_byte_ms"))
            firstByteMs.push_back(object["first_byte_ms"].get<double>());
    }
    std::sort(lateness.begin(), lateness.end());
    std::sort(sendMs.begin(), sendMs.end());
    std::sort(firstByteMs.begin(), firstByteMs.end());
    const auto at = [&](double q) {
        return lateness.empty() ? 0 : lateness[std::min(lateness.size() - 1, static_cast<size_t>(q * lateness.size()))];
    };
    std::printf("%d ports at %s baud, %d runs each: %d of %d runs PASS (exit %d); last read minus line time: "
                "median %d ms, 99%% %d ms, worst %d ms; tester's processor: %.1f %% of one core over %.1f s\n",
                ports, baud, runs, passes, total, status, at(0.5), at(0.99), lateness.empty() ? 0 : lateness.back(),
                100.0 * cpu / wall.count(), wall.count());
    std::printf("  tester's wake-ups (voluntary context switches): %ld, %.0f per run\n", sleeps,
                total ? static_cast<double>(sleeps) / total : 0.0);
    if (!sendMs.empty() && !firstByteMs.empty())
        std::printf("  send time median %d ms, worst %d ms; first byte back median %.2f ms, worst %.2f ms\n",
                    sendMs[sendMs.size() / 2], sendMs.back(), firstByteMs[firstByteMs.size() / 2], firstByteMs.back());
    return passes == total && total == ports * runs ? 0 : 1;
}
