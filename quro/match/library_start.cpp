#include "quro/match/library_start.h"

#include <mutex>

#include "quro/cpu.h"
#include "quro/match/core_tables.h"

namespace quro {

void ensure_library_started() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The matching core's direction similarity table and the processor's kernel choice.
        (void)core_tables();
        (void)cpu_has_avx2();
    });
}

}  // namespace quro
