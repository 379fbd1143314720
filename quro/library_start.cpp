#include "quro/library_start.h"

#include <mutex>

#include "quro/match/core_tables.h"

namespace quro {

void ensure_library_started() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The matching core's read-only tables: direction similarity, CPU feature flag and
        // per-level score factors.
        (void)core_tables();
    });
}

}  // namespace quro
