// A soak at 2,000,000 baud on the virtual echo plug: runs, false verdicts,
// memory and descriptors of the tester over time.  The plug runs in a child
// process.  bench_soak SECONDS [--check | --check-runs] prints the figures;
// with --check it exits 1 on a false verdict, memory growth beyond the
// allowance or a descriptor left open (CI runs a short one); --check-runs
// leaves memory out (a sanitizer's allocator keeps what is freed).
// Pseudo-terminals only; run it through tools/guard.sh as root.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/echo_command.h"
#include "plug_host.h"

namespace {

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

long openDescriptors()
{
    long count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

struct Slice {
    int64_t runs = 0;
    int64_t failures = 0;
};

Slice soak(const std::string &device, std::chrono::milliseconds duration)
{
    cli::EchoOptions options;
    options.devices = {device};
    options.baud = "2000000";
    options.duration = duration;
    options.progress = false;
    // Text: a passing soak prints only its results, so the output itself
    // does not grow with the runs.
    std::ostringstream out, err;
    cli::runEcho(options, out, err);
    Slice slice;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        long long runs = 0, passed = 0, failed = 0;
        if (std::sscanf(line.c_str(), "%*s at %*s baud: %lld runs, %lld passed, %lld failed", &runs, &passed,
                        &failed) == 3) {
            slice.runs = runs;
            slice.failures = failed;
        } else if (line.rfind("Run ", 0) == 0) {
            std::printf("%s\n", line.c_str()); // a failure, in full
        }
    }
    return slice;
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    const bool checkRuns = argc > 2 && (std::strcmp(argv[2], "--check") == 0 || std::strcmp(argv[2], "--check-runs") == 0);
    const bool checkMemory = argc > 2 && std::strcmp(argv[2], "--check") == 0;
    bench::PlugHost host(1, {});
    if (host.paths().size() != 1) {
        std::printf("could not start the plug\n");
        return 1;
    }
    // One soak in slices, so that memory and descriptors can be read
    // between them; the first slice warms the allocator up.
    const auto slice = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 / 10));
    Slice total = soak(host.paths()[0], slice);
    const long rssStart = residentKiB();
    const long fdsStart = openDescriptors();
    for (int i = 1; i < 10; ++i) {
        const Slice s = soak(host.paths()[0], slice);
        total.runs += s.runs;
        total.failures += s.failures;
    }
    const long rssEnd = residentKiB();
    const long fdsEnd = openDescriptors();
    const double hours = seconds * 0.9 / 3600;
    const double growthPerHour = hours > 0 ? (rssEnd - rssStart) / 1024.0 / hours : 0;
    std::printf("soak at 2000000 baud for %.0f s: %lld runs, %lld failures; resident memory %ld -> %ld KiB "
                "(%.2f MB per hour); descriptors %ld -> %ld\n",
                seconds, static_cast<long long>(total.runs), static_cast<long long>(total.failures), rssStart, rssEnd,
                growthPerHour, fdsStart, fdsEnd);
    if (!checkRuns)
        return 0;
    // A short soak's memory figure is noise-bound: allow 1 MB outright.
    const bool memoryOk = !checkMemory || rssEnd - rssStart <= 1024;
    const bool ok = total.failures == 0 && total.runs > 0 && memoryOk && fdsEnd == fdsStart;
    return ok ? 0 : 1;
}
