// Read-only tables of the matching core, built once on first use (library start-up builds them
// before the first creation or search). Kernels call core_tables() themselves.
#ifndef QURO_MATCH_CORE_TABLES_H
#define QURO_MATCH_CORE_TABLES_H

#include <array>
#include <cstdint>

namespace quro {

// Per-level factors of a search's minimum score, indexed by level below the top (0 = top level),
// for every metric. A search's top level is at most level 9, so indices 0..8 are used; the array
// has room for 10. Full resolution always takes the minimum score itself.
// The coarse levels score lower than full resolution, and the top level most: its quantised
// score counts only points that fall on a pixel of agreeing direction, and on a level 8 or 16
// times coarser than the image the rounding of the posed points and the resampling of the
// pyramid move an instance's edges by up to a pixel. For finely textured models (print,
// engraving, knurling, photos) and for occluded instances the top-level score was measured at
// 0.51-0.6 of the full-resolution score in the worst cases (0.75-0.85 typically), so the top
// level keeps candidates down to 0.55 of the minimum score; a factor of 0.9 there lost instances
// that score 0.85-0.95 at full resolution. The levels in between score with the same dot
// products as full resolution and keep 0.9: factors of 1 below the top lost a quarter of the
// instances of photo scenes, 0.9 lost none.
inline constexpr std::array<float, 10> kLevelScoreMultipliers = {0.55f, 0.9f, 0.9f, 0.9f, 0.9f,
                                                                 0.9f,  0.9f, 0.9f, 0.9f, 0.9f};

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
