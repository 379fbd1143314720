#include "quro/match/core_tables.h"

namespace quro {
namespace {

CoreTables build_core_tables() {
    // Response by circular distance 0..8 between two of the 16 directions.
    static constexpr std::int8_t kByDistance[9] = {4, 4, 1, 0, 0, 0, -1, -4, -4};
    CoreTables t{};
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            int s = c - r;
            if (s > 8) s -= 16;
            if (s < -8) s += 16;
            t.similarity[r][c] = kByDistance[s < 0 ? -s : s];
        }
    }
    return t;
}

}  // namespace

const CoreTables& core_tables() {
    static const CoreTables tables = build_core_tables();
    return tables;
}

}  // namespace quro
