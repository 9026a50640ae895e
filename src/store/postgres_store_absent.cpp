// Stand-in for a build without libpq.
#include "store/results_store.h"

namespace store {

std::unique_ptr<ResultsStore> openPostgresStore(const std::string &, Access)
{
    throw StoreError(StoreFault::NotBuilt, "This rebounce-cli was built without PostgreSQL support (libpq).");
}

} // namespace store
