// Walking two regions row by row: each region's runs are cut into row groups (consecutive runs on
// one row), and the group lists of both are walked together in ascending row order. The set
// operations, and the operators built on them, hand their row rules to this walk.
#ifndef QURO_REGION_ROW_GROUPS_H
#define QURO_REGION_ROW_GROUPS_H

#include <algorithm>

#include "quro/quro.h"

namespace quro {

// The runs begin .. end - 1 of a region, all on `row`; empty when begin == end.
struct RowGroup {
    int row;
    int begin;
    int end;
    bool empty() const { return begin == end; }
};

// The runs of r that its arrays really hold: num_runs, bounded by 0 and the capacity.
inline int held_runs(const region& r) { return std::max(0, std::min(r.num_runs, r.run_capacity)); }

// The group starting at run `begin` of r, which holds n runs: it ends before the first run on
// another row (empty when begin >= n).
inline RowGroup row_group_at(const region& r, int n, int begin) {
    if (begin >= n) return {0, n, n};
    const int row = r.rows[begin];
    int end = begin + 1;
    while (end < n && r.rows[end] == row) ++end;
    return {row, begin, end};
}

// Calls only_a(group of a) for a row that only a holds, only_b(group of b) for a row only b holds,
// and both(group of a, group of b) for a row both hold, in ascending row order. The runs must be
// sorted by row: unsorted runs give groups in a wrong order (so a wrong result) but every index
// handed out stays within the runs each region holds.
template <class OnlyA, class OnlyB, class Both>
void walk_row_groups(const region& a, const region& b, OnlyA&& only_a, OnlyB&& only_b,
                     Both&& both) {
    const int na = held_runs(a);
    const int nb = held_runs(b);
    RowGroup ga = row_group_at(a, na, 0);
    RowGroup gb = row_group_at(b, nb, 0);
    while (!ga.empty() && !gb.empty()) {
        if (ga.row < gb.row) {
            only_a(ga);
            ga = row_group_at(a, na, ga.end);
        } else if (gb.row < ga.row) {
            only_b(gb);
            gb = row_group_at(b, nb, gb.end);
        } else {
            both(ga, gb);
            ga = row_group_at(a, na, ga.end);
            gb = row_group_at(b, nb, gb.end);
        }
    }
    for (; !ga.empty(); ga = row_group_at(a, na, ga.end)) only_a(ga);
    for (; !gb.empty(); gb = row_group_at(b, nb, gb.end)) only_b(gb);
}

}  // namespace quro

#endif  // QURO_REGION_ROW_GROUPS_H
