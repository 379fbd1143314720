#include "quro/match/select/cluster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/order_utils.h"

namespace quro {
namespace {

// Pixel key: row-major, like y * w + x for the pixels of the image, but without a width, so
// that no two pixels share a key and a row's end does not touch the next row's start.
// Coordinates are clamped to +-2^30 (as posed positions are), which keeps every neighbour key
// arithmetic far from overflow; only absurd positions can share a pixel that way.
constexpr std::int64_t kRowStride = std::int64_t{1} << 32;
constexpr int kCoordLimit = 1 << 30;

std::int64_t pixel_key(int x, int y) {
    return static_cast<std::int64_t>(std::clamp(y, -kCoordLimit, kCoordLimit)) * kRowStride +
           std::clamp(x, -kCoordLimit, kCoordLimit);
}

// Neighbour slots, in the gathering order after the pixel itself:
// up, up-right, right, down-right, down, down-left, left, up-left.
constexpr int kNeighbours = 8;
constexpr int kNoPixel = -1;

// Slot of the neighbour at column offset dx (-1, 0, 1) in the row above and the row below.
constexpr std::array<int, 3> kAboveSlot = {7, 0, 1};
constexpr std::array<int, 3> kBelowSlot = {5, 4, 3};
constexpr int kRightSlot = 2;
constexpr int kLeftSlot = 6;

// The candidates of one pixel: entries [begin, end) of the key-sorted index list.
struct PixelCell {
    std::int64_t key;
    float best;
    int begin;
    int end;
};

// Fills the slots of the neighbours in the row `row_key` (the key of the pixel's own column in
// that row) from the key-sorted cells. `cursor` only moves forward: called for the pixels in key
// order, the row keys grow, so the whole sweep costs one pass over the cells.
void find_row_neighbours(const std::vector<PixelCell>& cells, int& cursor, std::int64_t row_key,
                         const std::array<int, 3>& slot_of_dx, std::array<int, kNeighbours>& nb) {
    const auto np = static_cast<int>(cells.size());
    while (cursor < np && cells[static_cast<std::size_t>(cursor)].key < row_key - 1) ++cursor;
    for (int q = cursor; q < np && cells[static_cast<std::size_t>(q)].key <= row_key + 1; ++q) {
        const auto dx = static_cast<int>(cells[static_cast<std::size_t>(q)].key - row_key);
        nb[static_cast<std::size_t>(slot_of_dx[static_cast<std::size_t>(dx + 1)])] = q;
    }
}

// The pairs (pixel key, index) of the candidates whose score is a number, sorted by key and,
// within a key, by index. Candidates that crowd a small area (as on the upper levels) take a
// counting sort over their bounding box; sparse ones a comparison sort. Both give one order.
std::vector<std::pair<std::int64_t, int>> sort_by_pixel(const std::vector<Match>& c) {
    std::vector<std::pair<std::int64_t, int>> out;
    out.reserve(c.size());
    int min_x = kCoordLimit, max_x = -kCoordLimit, min_y = kCoordLimit, max_y = -kCoordLimit;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const Match& m = c[i];
        if (std::isnan(m.score)) continue;
        out.emplace_back(pixel_key(m.x, m.y), static_cast<int>(i));
        const int x = std::clamp(m.x, -kCoordLimit, kCoordLimit);
        const int y = std::clamp(m.y, -kCoordLimit, kCoordLimit);
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
    }
    const auto n = static_cast<int>(out.size());
    const std::int64_t box_w = std::int64_t{max_x} - min_x + 1;
    const std::int64_t area = box_w * (std::int64_t{max_y} - min_y + 1);
    if (n < 64 || area > 4 * std::int64_t{n} + 65536) {
        std::sort(out.begin(), out.end());  // pairs are unique: the order is fixed
        return out;
    }
    // Row-major cell in the bounding box: the order of the keys.
    const auto cell_of = [&](const std::pair<std::int64_t, int>& e) {
        const Match& m = c[static_cast<std::size_t>(e.second)];
        const std::int64_t x = std::clamp(m.x, -kCoordLimit, kCoordLimit) - min_x;
        const std::int64_t y = std::clamp(m.y, -kCoordLimit, kCoordLimit) - min_y;
        return static_cast<std::size_t>(y * box_w + x);
    };
    std::vector<int> start(static_cast<std::size_t>(area) + 1, 0);
    for (const auto& e : out) ++start[cell_of(e) + 1];
    for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
    std::vector<std::pair<std::int64_t, int>> sorted(out.size());
    for (const auto& e : out)  // in input order: stable within a cell
        sorted[static_cast<std::size_t>(start[cell_of(e)]++)] = e;
    return sorted;
}

// Sorts candidate indices by descending score, NaN last, keeping the order of equal scores.
// Groups are small: an insertion sort, without the buffer a library stable sort allocates.
void sort_by_score(std::vector<int>& idx, const std::vector<Match>& c) {
    if (idx.size() > 64) {
        std::stable_sort(idx.begin(), idx.end(), [&c](int a, int b) {
            return greater_nan_last(c[static_cast<std::size_t>(a)].score,
                                    c[static_cast<std::size_t>(b)].score);
        });
        return;
    }
    for (std::size_t i = 1; i < idx.size(); ++i) {
        const int v = idx[i];
        const float s = c[static_cast<std::size_t>(v)].score;
        std::size_t j = i;
        for (; j > 0 && greater_nan_last(s, c[static_cast<std::size_t>(idx[j - 1])].score); --j)
            idx[j] = idx[j - 1];
        idx[j] = v;
    }
}

// The clustering shared by all variants. repeats(i, j): whether candidate c[i] repeats the pose
// of the kept candidate c[j].
template <class Repeats>
void cluster_groups(std::vector<Match>& c, int group_limit, const TimeLimit& time_limit,
                    Repeats&& repeats) {
    // 1. Index: candidate indices sorted by pixel key; within a pixel in input order. A NaN
    // score cannot be judged against a group's best: such candidates take no part and leave.
    const std::vector<std::pair<std::int64_t, int>> by_pixel = sort_by_pixel(c);
    const auto n = static_cast<int>(by_pixel.size());
    std::vector<PixelCell> cells;
    cells.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n;) {
        PixelCell cell{by_pixel[static_cast<std::size_t>(i)].first, 0.f, i, i};
        for (; cell.end < n && by_pixel[static_cast<std::size_t>(cell.end)].first == cell.key;
             ++cell.end) {
            const float s =
                c[static_cast<std::size_t>(by_pixel[static_cast<std::size_t>(cell.end)].second)]
                    .score;
            if (s > cell.best) cell.best = s;
        }
        i = cell.end;
        cells.push_back(cell);
    }
    const int np = static_cast<int>(cells.size());
    if (time_limit.passed()) return;

    // 2. Neighbours and local maxima (collected in ascending pixel order).
    std::vector<std::array<int, kNeighbours>> neighbours(static_cast<std::size_t>(np));
    std::vector<int> maxima;
    int above = 0, below = 0;
    for (int p = 0; p < np; ++p) {
        std::array<int, kNeighbours>& nb = neighbours[static_cast<std::size_t>(p)];
        nb.fill(kNoPixel);
        const std::int64_t key = cells[static_cast<std::size_t>(p)].key;
        find_row_neighbours(cells, above, key - kRowStride, kAboveSlot, nb);
        find_row_neighbours(cells, below, key + kRowStride, kBelowSlot, nb);
        if (p > 0 && cells[static_cast<std::size_t>(p - 1)].key == key - 1) nb[kLeftSlot] = p - 1;
        if (p + 1 < np && cells[static_cast<std::size_t>(p + 1)].key == key + 1)
            nb[kRightSlot] = p + 1;
        const float best = cells[static_cast<std::size_t>(p)].best;
        const bool is_max = std::none_of(nb.begin(), nb.end(), [&](int q) {
            return q != kNoPixel && cells[static_cast<std::size_t>(q)].best > best;
        });
        if (is_max) maxima.push_back(p);
    }

    // 3. Highest best score first; equal ones keep ascending pixel order.
    std::stable_sort(maxima.begin(), maxima.end(), [&](int a, int b) {
        return greater_nan_last(cells[static_cast<std::size_t>(a)].best,
                                cells[static_cast<std::size_t>(b)].best);
    });

    if (time_limit.passed()) return;

    // 4. Groups.
    std::vector<char> emptied(static_cast<std::size_t>(np), 0);
    std::vector<int> gathered;
    std::vector<int> kept;
    std::vector<Match> out;
    out.reserve(c.size());
    const auto limit = static_cast<std::size_t>(std::max(group_limit, 0));
    std::size_t visited = 0;
    for (const int m : maxima) {
        if (++visited % kClusterCheckInterval == 0 && time_limit.passed()) return;
        gathered.clear();
        const auto take = [&](int p) {
            if (p == kNoPixel || emptied[static_cast<std::size_t>(p)]) return;
            emptied[static_cast<std::size_t>(p)] = 1;
            const PixelCell& cell = cells[static_cast<std::size_t>(p)];
            for (int k = cell.begin; k < cell.end; ++k)
                gathered.push_back(by_pixel[static_cast<std::size_t>(k)].second);
        };
        take(m);
        for (const int q : neighbours[static_cast<std::size_t>(m)]) take(q);
        if (gathered.empty()) continue;
        sort_by_score(gathered, c);

        const float o = cells[static_cast<std::size_t>(m)].best;
        kept.assign(1, gathered[0]);
        for (std::size_t k = 1; k < gathered.size(); ++k) {
            const int i = gathered[k];
            const float s = c[static_cast<std::size_t>(i)].score;
            if (static_cast<double>((o - s) / o) > 0.2) continue;
            const bool repeat =
                std::any_of(kept.begin(), kept.end(), [&](int j) { return repeats(i, j); });
            if (!repeat) kept.push_back(i);
        }
        // 5. Output, cut to the group limit.
        const std::size_t take_n = limit > 0 ? std::min(limit, kept.size()) : kept.size();
        for (std::size_t k = 0; k < take_n; ++k)
            out.push_back(c[static_cast<std::size_t>(kept[k])]);
    }
    c.swap(out);
}

bool angle_repeats(const Match& a, const Match& b, float angle_step) {
    return angle_diff_abs(a.angle, b.angle) < 2.5f * angle_step;
}

}  // namespace

void cluster_candidates(std::vector<Match>& c, float angle_step, int group_limit,
                        const TimeLimit& limit) {
    cluster_groups(c, group_limit, limit, [&c, angle_step](int i, int j) {
        return angle_repeats(c[static_cast<std::size_t>(i)], c[static_cast<std::size_t>(j)],
                             angle_step);
    });
}

void cluster_candidates_scaled(std::vector<Match>& c, float angle_step, int group_limit,
                               float scale_step, const TimeLimit& limit) {
    cluster_groups(c, group_limit, limit, [&c, angle_step, scale_step](int i, int j) {
        const Match& a = c[static_cast<std::size_t>(i)];
        const Match& b = c[static_cast<std::size_t>(j)];
        return angle_repeats(a, b, angle_step) &&
               std::abs(a.scale_row - b.scale_row) < 0.5f * scale_step;
    });
}

void cluster_candidates_aniso(std::vector<Match>& c, float angle_step, int group_limit,
                              float row_scale_step, float column_scale_step,
                              const TimeLimit& limit) {
    cluster_groups(c, group_limit, limit, [&](int i, int j) {
        const Match& a = c[static_cast<std::size_t>(i)];
        const Match& b = c[static_cast<std::size_t>(j)];
        return angle_repeats(a, b, angle_step) &&
               std::abs(a.scale_row - b.scale_row) < 0.5f * row_scale_step &&
               std::abs(a.scale_col - b.scale_col) < 0.5f * column_scale_step;
    });
}

void cluster_candidates_multi(std::vector<Match>& c, const ModelRecords& records,
                              const ModelIdIndex& id_to_index, int group_limit, int level_index,
                              const TimeLimit& limit, const std::vector<float>* model_steps) {
    // Each model's angle step at this level, computed once; candidates of unknown models leave.
    std::vector<float> model_step(records.size(), 0.f);
    std::vector<char> model_step_known(records.size(), 0);
    std::vector<Match> known;
    std::vector<float> step;  // per candidate of `known`
    known.reserve(c.size());
    step.reserve(c.size());
    for (const Match& m : c) {
        const int index = candidate_model_index(m, records, id_to_index);
        if (index < 0) continue;
        const auto k = static_cast<std::size_t>(index);
        if (!model_step_known[k]) {
            model_step[k] =
                model_steps ? (*model_steps)[k] : angle_step(*records[k], level_index + 1);
            model_step_known[k] = 1;
        }
        known.push_back(m);
        step.push_back(model_step[k]);
    }
    // The groups hold indices into `known`, so a candidate keeps its step through the sorts.
    cluster_groups(known, group_limit, limit, [&known, &step](int i, int j) {
        return angle_repeats(known[static_cast<std::size_t>(i)], known[static_cast<std::size_t>(j)],
                             step[static_cast<std::size_t>(i)]);
    });
    c.swap(known);
}

}  // namespace quro
