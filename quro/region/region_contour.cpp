// The outer contour of a region traced through its 8-neighbours, and the test whether a pixel
// lies in a region. Both look pixels up in the run arrays directly (a binary search for the row),
// so they allocate nothing and stay within the runs whatever their order.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "quro/quro.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_contour.h"
#include "quro/region/row_groups.h"

namespace quro {
namespace {

// The 8 directions as (row, column) steps: east, then clockwise on screen (rows grow downwards).
constexpr int kStepRow[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kStepCol[8] = {1, 1, 0, -1, -1, -1, 0, 1};

struct Pixel {
    std::int64_t col, row;
    bool operator==(const Pixel&) const = default;
    Pixel step(int dir) const { return {col + kStepCol[dir], row + kStepRow[dir]}; }
};

void append(std::vector<int>* cols, std::vector<int>* rows, Pixel p) {
    if (cols != nullptr) cols->push_back(static_cast<int>(p.col));
    if (rows != nullptr) rows->push_back(static_cast<int>(p.row));
}

}  // namespace

bool region_contains(const region& r, int n, std::int64_t col, std::int64_t row) {
    if (row < INT32_MIN || row > INT32_MAX) return false;
    const int* first = std::lower_bound(r.rows, r.rows + n, static_cast<int>(row));
    for (auto k = first - r.rows; k < n && r.rows[k] == row; ++k)
        if (r.col_ends[k] >= col) return r.col_begins[k] <= col;
    return false;
}

bool get_region_contour_impl(const region& r, std::vector<int>* cols, std::vector<int>* rows,
                             std::int64_t limit) {
    const int n = held_runs(r);
    if ((cols == nullptr && rows == nullptr) || r.num_parts != 0 || n == 0) return true;
    // Start: the rightmost pixel of the top row.
    Pixel start{r.col_ends[0], r.rows[0]};
    std::int64_t area = 0;
    for (int i = 0; i < n; ++i) {
        if (r.rows[i] < start.row || (r.rows[i] == start.row && r.col_ends[i] > start.col))
            start = {r.col_ends[i], r.rows[i]};
        area += std::max<std::int64_t>(0, std::int64_t{r.col_ends[i]} - r.col_begins[i] + 1);
    }
    const auto inside = [&](Pixel p) { return region_contains(r, n, p.col, p.row); };
    const std::size_t cols0 = cols != nullptr ? cols->size() : 0;
    const std::size_t rows0 = rows != nullptr ? rows->size() : 0;
    std::int64_t appended = 0;
    const auto put = [&](Pixel p) {
        if (++appended > limit) return false;
        append(cols, rows, p);
        return true;
    };
    const auto refuse = [&] {
        if (cols != nullptr) cols->resize(cols0);
        if (rows != nullptr) rows->resize(rows0);
        return false;
    };
    if (!put(start)) return refuse();
    // The neighbour the trace comes back from: the first inside one from north-east down to
    // south-east, against the clockwise order of the trace.
    int back = 7;
    while (back >= 1 && !inside(start.step(back))) --back;
    if (back == 0) return true;  // a lone pixel
    const int stop = (back + 4) % 8;
    // A guard: the trace visits a pixel at most a few times, so 4 moves per pixel are plenty,
    // and the walk ends even should the stop rule never match.
    const std::int64_t max_moves = 4 * area + 8;
    Pixel at = start;
    int search = 0;
    for (std::int64_t moves = 0; moves < max_moves; ++moves) {
        int dir = -1;
        for (int k = 0; k < 8 && dir < 0; ++k)
            if (inside(at.step((search + k) % 8))) dir = (search + k) % 8;
        if (dir < 0) return true;
        at = at.step(dir);
        if (at == start && dir == stop) return true;
        if (!put(at)) return refuse();
        search = (dir + 5) % 8;
    }
    return true;
}

}  // namespace quro

extern "C" void get_region_contour(const quro::region& r, std::vector<int>* cols,
                                   std::vector<int>* rows) {
    quro::region_guarded([&] { quro::get_region_contour_impl(r, cols, rows); });
}

extern "C" void test_region_point(const quro::region& r, int col, int row, int* inside) {
    if (inside == nullptr) return;
    const int n = quro::held_runs(r);
    *inside = r.num_parts == 0 && n > 0 && quro::region_contains(r, n, col, row) ? 1 : 0;
}
