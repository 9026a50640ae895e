// What one CommRead with nothing queued costs, one 10-byte CommWrite
// followed by reading its echo back, and one CommOpen + CommClose (which
// look through /proc for other programs holding the port and save and put
// back its settings), on a pseudo-terminal served by the virtual echo plug
// without line timing (so the figure is the layer's and the system's cost,
// not the wire's).

#include "serial/modcomm.h"
#include "serial/virtual_echo_plug.h"

#include <benchmark/benchmark.h>

namespace {

struct PlugPort {
    PlugPort()
        : plug([] {
              serial::EchoPlugOptions options;
              options.lineTiming = false;
              return options;
          }())
    {
        ok = plug.start() && comm.CommOpen(1, plug.devicePath(), "baud=115200 parity=N data=8 stop=1") == 0;
    }
    ~PlugPort() { comm.CommClose(1); }

    serial::VirtualEchoPlug plug;
    serial::modCOMM comm;
    bool ok = false;
};

void readWithNothingQueued(benchmark::State &state)
{
    PlugPort port;
    if (!port.ok) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::string received;
    for (auto _ : state) {
        benchmark::DoNotOptimize(port.comm.CommRead(1, received, 64));
    }
}
BENCHMARK(readWithNothingQueued)->Unit(benchmark::kMicrosecond);

void tenByteRoundTrip(benchmark::State &state)
{
    PlugPort port;
    if (!port.ok) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const std::string chunk = "ABCDEFGHIJ";
    std::string received;
    for (auto _ : state) {
        port.comm.CommWrite(1, chunk);
        std::size_t got = 0;
        while (got < chunk.size()) {
            port.comm.CommWaitInput(1, 100);
            const auto n = port.comm.CommRead(1, received, 64);
            if (n < 0) {
                state.SkipWithError("read failed");
                return;
            }
            got += static_cast<std::size_t>(n);
        }
    }
}
BENCHMARK(tenByteRoundTrip)->Unit(benchmark::kMicrosecond);

void openAndClose(benchmark::State &state)
{
    PlugPort port;
    if (!port.ok) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    port.comm.CommClose(1);
    for (auto _ : state) {
        if (port.comm.CommOpen(1, port.plug.devicePath(), "baud=115200 parity=N data=8 stop=1") != 0) {
            state.SkipWithError("open failed");
            return;
        }
        port.comm.CommClose(1);
    }
}
BENCHMARK(openAndClose)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
