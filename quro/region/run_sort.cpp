// Sorting runs gathered out of order back into row-then-column order: an index permutation sorted
// by the runs it points to, then applied to the three arrays in place along its cycles.
#include <algorithm>
#include <cstddef>
#include <numeric>
#include <thread>
#include <vector>

#include <tbb/parallel_sort.h>

#include "quro/region/components.h"

namespace quro {
namespace {

// Below this many runs, or on one processor, the ordinary sort.
constexpr int kParallelSortFrom = 2049;

// Moves a[order[i]] to a[i] for every i, one cycle of the permutation at a time.
void permute(int* a, const std::vector<int>& order, std::vector<bool>& done) {
    std::fill(done.begin(), done.end(), false);
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (done[start]) continue;
        const int first = a[start];
        std::size_t i = start;
        for (;;) {
            done[i] = true;
            const auto from = static_cast<std::size_t>(order[i]);
            if (from == start) break;
            a[i] = a[from];
            i = from;
        }
        a[i] = first;
    }
}

}  // namespace

void sort_y(int* rows, int* col_begins, int* col_ends, int n) {
    if (n < 2 || rows == nullptr || col_begins == nullptr || col_ends == nullptr) return;
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    // A total order (position breaks every tie), so both sorts give the same permutation.
    const auto before = [&](int a, int b) {
        if (rows[a] != rows[b]) return rows[a] < rows[b];
        if (col_begins[a] != col_begins[b]) return col_begins[a] < col_begins[b];
        if (col_ends[a] != col_ends[b]) return col_ends[a] < col_ends[b];
        return a < b;
    };
    if (n < kParallelSortFrom || std::thread::hardware_concurrency() < 2) {
        std::sort(order.begin(), order.end(), before);
    } else {
        tbb::parallel_sort(order.begin(), order.end(), before);
    }
    std::vector<bool> done(order.size());
    permute(rows, order, done);
    permute(col_begins, order, done);
    permute(col_ends, order, done);
}

}  // namespace quro
