// Read-only tables of the matching core, built once on first use (library start-up builds them
// before the first creation or search). Kernels call core_tables() themselves.
#ifndef QURO_MATCH_CORE_TABLES_H
#define QURO_MATCH_CORE_TABLES_H

#include <array>
#include <cstdint>

namespace quro {

// Per-level factors of a search's minimum score, indexed by level below the top (0 = top level);
// used when the model's metric is not 0. A search's top level is at most level 9, so indices
// 0..8 are used; the array has room for 10. Full resolution always takes the minimum score itself.
// The coarse levels score lower than full resolution on textured or noisy models (their edge
// points agree less with the image), so they keep candidates down to 0.9 of the minimum score:
// measured on photo scenes with noise 5, factors of 1 below the top lost a quarter of the
// instances, 0.9 lost none, and lower factors only cost time (more candidates reach full
// resolution, where the minimum score applies unchanged).
inline constexpr std::array<float, 10> kLevelScoreMultipliers = {0.9f, 0.9f, 0.9f, 0.9f, 0.9f,
                                                                 0.9f, 0.9f, 0.9f, 0.9f, 0.9f};

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
