#include "quro/library_start.h"

#include <mutex>

namespace quro {

void ensure_library_started() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Start-up duties are added here as the subsystems that need them arrive.
    });
}

}  // namespace quro
