#include "quro/search/tiled/tile_merge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

namespace quro {

namespace {

double pos_x(const Match& m) {
    return static_cast<double>(m.x) + static_cast<double>(m.dx);
}
double pos_y(const Match& m) {
    return static_cast<double>(m.y) + static_cast<double>(m.dy);
}

bool within(const Match& a, const Match& b, double distance) {
    return std::fabs(pos_x(a) - pos_x(b)) <= distance && std::fabs(pos_y(a) - pos_y(b)) <= distance;
}

// Keeps the matches for which `keep` says yes, in order (keep sees each match once, in order).
template <class Keep>
void keep_in_order(std::vector<Match>& sorted, Keep&& keep) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        if (keep(sorted[i])) sorted[kept++] = sorted[i];
    sorted.resize(kept);
}

}  // namespace

float duplicate_distance(float requested) {
    return requested >= 0.5f ? requested : 0.5f;
}

void drop_duplicates_pairwise(std::vector<Match>& sorted, float distance) {
    std::vector<Match> kept;
    keep_in_order(sorted, [&](const Match& m) {
        for (const Match& k : kept)
            if (within(m, k, distance)) return false;
        kept.push_back(m);
        return true;
    });
}

void drop_duplicates_bucketed(std::vector<Match>& sorted, float distance) {
    // Cells a little wider than the distance: two positions within it then lie in the same or in
    // neighbouring cells whatever the rounding of the divisions.
    const double cell = static_cast<double>(distance) * (1.0 + 1e-6);
    const auto cell_of = [cell](double v) {
        return static_cast<std::int64_t>(std::floor(v / cell));
    };
    const auto key = [](std::int64_t cx, std::int64_t cy) {
        return (static_cast<std::uint64_t>(cx) << 32) ^ static_cast<std::uint64_t>(cy & 0xffffffff);
    };
    // Two cells may share a key (a cell index beyond 32 bits); that costs comparisons, never a
    // wrong answer, since every candidate is compared exactly.
    std::unordered_map<std::uint64_t, std::vector<Match>> cells;
    keep_in_order(sorted, [&](const Match& m) {
        const std::int64_t cx = cell_of(pos_x(m)), cy = cell_of(pos_y(m));
        for (std::int64_t y = cy - 1; y <= cy + 1; ++y)
            for (std::int64_t x = cx - 1; x <= cx + 1; ++x) {
                const auto it = cells.find(key(x, y));
                if (it == cells.end()) continue;
                for (const Match& k : it->second)
                    if (within(m, k, distance)) return false;
            }
        cells[key(cx, cy)].push_back(m);
        return true;
    });
}

void merge_tile_matches(std::vector<Match>& matches, float distance) {
    std::stable_sort(matches.begin(), matches.end(),
                     [](const Match& a, const Match& b) { return a.score > b.score; });
    if (matches.size() < kBucketedDuplicatesFrom)
        drop_duplicates_pairwise(matches, distance);
    else
        drop_duplicates_bucketed(matches, distance);
}

}  // namespace quro
