// Read-only tables of the matching core, built once on first use (library start-up builds them
// before the first creation or search). Kernels call core_tables() themselves.
#ifndef QURO_MATCH_CORE_TABLES_H
#define QURO_MATCH_CORE_TABLES_H

#include <array>
#include <cstdint>

namespace quro {

// Per-level factors of a search's minimum score, indexed by level below the top (0 = top level).
// A search's top level is at most level 9, so indices 0..8 are used; the array has room for 10.
// The top level is scored on coarse quantised directions, hence its lower factor.
inline constexpr std::array<float, 10> kLevelScoreMultipliers = {0.9f, 1.f, 1.f, 1.f, 1.f,
                                                                 1.f,  1.f, 1.f, 1.f, 1.f};

struct CoreTables {
    // similarity[model direction][image direction], 16 directions of 22.5 degrees: 4 for equal or
    // neighbouring directions down to -4 for opposite ones.
    std::int8_t similarity[16][16];
    // 1 when the processor runs AVX2 code (and OpenCV has not been told to avoid it).
    std::uint8_t cpu_avx2;
    std::array<float, 10> level_score_multipliers;
};

// The tables; built on the first call, thread-safe, never changed afterwards.
const CoreTables& core_tables();

}  // namespace quro

#endif  // QURO_MATCH_CORE_TABLES_H
