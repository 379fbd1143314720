// The read-only direction similarity table of the matching core, built once on first use (library
// start-up builds it before the first creation or search). Kernels call core_tables() themselves.
#ifndef QURO_MATCH_CORE_TABLES_H
#define QURO_MATCH_CORE_TABLES_H

#include <cstdint>

namespace quro {

struct CoreTables {
    // similarity[model direction][image direction], 16 directions of 22.5 degrees: 4 for equal or
    // neighbouring directions down to -4 for opposite ones.
    std::int8_t similarity[16][16];
};

// The table; built on the first call, thread-safe, never changed afterwards.
const CoreTables& core_tables();

}  // namespace quro

#endif  // QURO_MATCH_CORE_TABLES_H
