// Stand-in for a build without SQLite.
#include "store/results_store.h"

namespace store {

std::unique_ptr<ResultsStore> openSqliteStore(const std::string &, Access)
{
    throw StoreError(StoreFault::NotBuilt, "This rebounce-cli was built without SQLite support.");
}

} // namespace store
