#pragma once
#include <iosfwd>
#include <string>

#include "store/results_store.h"

namespace CLI {
class App;
}

namespace cli {

struct HistoryOptions {
    std::string database; // a file, or postgresql://...
    store::HistoryFilter filter;
    bool json = false;
};

// rebounce-cli history: the runs a station logged with --log.
void addHistoryCommand(CLI::App &app, int &exitStatus);

// Lists the runs; returns an ExitStatus.
int runHistory(const HistoryOptions &options, std::ostream &out, std::ostream &err);

} // namespace cli
