// Regions from the caller's runs or points, and the runs of a region handed back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "quro/quro.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_create.h"

namespace quro {
namespace {

// out's runs and chords become the n runs of the three arrays, in their order.
void install_runs(region& out, const int* rows, const int* col_begins, const int* col_ends,
                  int n) {
    region_guarded([&] {
        make_sole_owner(out, false);
        grow_capacity(out, n);
        void* array = std::realloc(out.chords, static_cast<std::size_t>(n) * sizeof(chord));
        if (array == nullptr) {
            if (out.chords == nullptr) throw_malloc_failed();
            throw_realloc_failed();
        }
        out.chords = static_cast<chord*>(array);
        for (int i = 0; i < n; ++i) {
            out.rows[i] = rows[i];
            out.col_begins[i] = col_begins[i];
            out.col_ends[i] = col_ends[i];
            out.chords[i] = chord(col_begins[i], col_ends[i], rows[i]);
        }
        out.num_runs = n;
        out.num_chords = n;
    });
}

// Writes `count` entries to *v (resized to count) from get(i); a null v is skipped.
template <class Get>
void fill(std::vector<int>* v, int count, Get get) {
    if (v == nullptr) return;
    v->resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) (*v)[static_cast<std::size_t>(i)] = get(i);
}

}  // namespace

void append_point_runs(region& out, std::vector<std::pair<int, int>>& points) {
    std::sort(points.begin(), points.end());
    make_sole_owner(out, true);
    std::int64_t n = out.num_runs;
    std::size_t i = 0;
    while (i < points.size()) {
        const int row = points[i].first;
        const int begin = points[i].second;
        int end = begin;
        for (++i; i < points.size() && points[i].first == row &&
                  static_cast<std::int64_t>(points[i].second) <= std::int64_t{end} + 1;
             ++i)
            end = points[i].second;
        grow_to(out, n);
        out.rows[n] = row;
        out.col_begins[n] = begin;
        out.col_ends[n] = end;
        out.num_runs = static_cast<int>(++n);
    }
}

}  // namespace quro

extern "C" void gen_region_runs(quro::region* out, const std::vector<int>& rows,
                                const std::vector<int>& col_begins,
                                const std::vector<int>& col_ends) {
    const std::size_t n = rows.size();
    if (out == nullptr || n == 0 || col_begins.size() != n || col_ends.size() != n) return;
    if (n > static_cast<std::size_t>(INT32_MAX)) quro::throw_realloc_failed();
    quro::install_runs(*out, rows.data(), col_begins.data(), col_ends.data(), static_cast<int>(n));
}

extern "C" void gen_region_runs2(quro::region* out, int* rows, int* col_begins, int* col_ends,
                                 int n) {
    if (out == nullptr || n <= 0 || rows == nullptr || col_begins == nullptr || col_ends == nullptr)
        return;
    quro::install_runs(*out, rows, col_begins, col_ends, n);
}

extern "C" void gen_region_points(quro::region* out, std::vector<int> cols, std::vector<int> rows) {
    using namespace quro;
    if (out == nullptr || cols.empty() || cols.size() != rows.size()) return;
    region_guarded([&] {
        std::vector<std::pair<int, int>> points(cols.size());  // (row, col)
        for (std::size_t i = 0; i < cols.size(); ++i) points[i] = {rows[i], cols[i]};
        append_point_runs(*out, points);
    });
}

extern "C" void get_region_runs(const quro::region& in, std::vector<int>* rows,
                                std::vector<int>* col_begins, std::vector<int>* col_ends) {
    using namespace quro;
    region_guarded([&] {
        if (in.num_runs > 0) {
            fill(rows, in.num_runs, [&](int i) { return in.rows[i]; });
            fill(col_begins, in.num_runs, [&](int i) { return in.col_begins[i]; });
            fill(col_ends, in.num_runs, [&](int i) { return in.col_ends[i]; });
        } else if (in.num_chords > 0) {
            fill(rows, in.num_chords, [&](int i) { return in.chords[i].row; });
            fill(col_begins, in.num_chords, [&](int i) { return in.chords[i].col_begin; });
            fill(col_ends, in.num_chords, [&](int i) { return in.chords[i].col_end; });
        }
    });
}
