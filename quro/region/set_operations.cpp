// Union, difference and intersection of two regions. The inputs are walked row by row together;
// a row held by one input only is copied or dropped whole, and a row held by both is merged by the
// operation's row rule, a linear two-pointer pass over both rows' runs (sorted by column).
#include <algorithm>
#include <climits>
#include <cstdint>

#include "quro/quro.h"
#include "quro/region/region_buffers.h"
#include "quro/region/row_groups.h"
#include "quro/region/run_writer.h"
#include "quro/region/set_operations.h"

namespace quro {
namespace {

// The column arrays of a region, as the row rules read them (kept in registers in their loops).
struct Columns {
    const int* begins;
    const int* ends;
};

// Union of one row: the runs of both rows in ascending first column (b's first on a tie); a run
// that starts at most one column past the current run's end joins it, so touching runs merge.
void unite_row(Columns a, RowGroup ga, Columns b, RowGroup gb, RunSink& out) {
    int i = ga.begin;
    int j = gb.begin;
    int begin = 0;
    std::int64_t end = INT64_MIN;  // no run yet: the first one starts a run
    for (;;) {
        int next_begin, next_end;
        if (j < gb.end && (i == ga.end || b.begins[j] <= a.begins[i])) {
            next_begin = b.begins[j];
            next_end = b.ends[j++];
        } else if (i < ga.end) {
            next_begin = a.begins[i];
            next_end = a.ends[i++];
        } else {
            break;
        }
        if (next_begin <= end + 1) {
            end = std::max<std::int64_t>(end, next_end);
        } else {
            if (end != INT64_MIN) out.put(ga.row, begin, static_cast<int>(end));
            begin = next_begin;
            end = next_end;
        }
    }
    out.put(ga.row, begin, static_cast<int>(end));
}

// Difference of one row: a intersected with the gaps between b's runs, merged like two run lists.
// Gap k ends just before b's run k and begins just after the furthest end of b's runs before it;
// the last gap is open to the right. The non-empty overlaps are written in column order.
void subtract_row(Columns a, RowGroup ga, Columns b, RowGroup gb, RunSink& out) {
    int j = gb.begin;
    std::int64_t gap_begin = INT64_MIN;
    for (int i = ga.begin; i < ga.end;) {
        const std::int64_t gap_end = j < gb.end ? std::int64_t{b.begins[j]} - 1 : INT64_MAX;
        const std::int64_t begin = std::max<std::int64_t>(a.begins[i], gap_begin);
        const std::int64_t end = std::min<std::int64_t>(a.ends[i], gap_end);
        out.put_if(begin <= end, ga.row, static_cast<int>(begin), static_cast<int>(end));
        if (a.ends[i] <= gap_end) {  // whichever ends first goes
            ++i;
        } else {
            gap_begin = std::max(gap_begin, std::int64_t{b.ends[j++]} + 1);
        }
    }
}

// Intersection of one row: every overlap of a run of a with a run of b, in column order; the run
// that ends first cannot overlap anything further. It chooses with selects, not branches: which
// run ends first is as good as random here, and a mispredicted branch per run would cost more
// than the rest of the work.
void intersect_row(Columns a, RowGroup ga, Columns b, RowGroup gb, RunSink& out) {
    int i = ga.begin;
    int j = gb.begin;
    while (i < ga.end && j < gb.end) {
        const int begin = std::max(a.begins[i], b.begins[j]);
        const int end = std::min(a.ends[i], b.ends[j]);
        out.put_if(begin <= end, ga.row, begin, end);
        const bool next_a = a.ends[i] < b.ends[j];
        i += next_a;
        j += !next_a;
    }
}

enum class SetOperation { unite, subtract, intersect };

template <SetOperation op>
void combine(const region& a, const region& b, region* out) {
    if (out == nullptr || a.num_parts != 0 || b.num_parts != 0) return;
    region_guarded([&] {
        RunWriter writer(*out, {&a, &b});
        const auto copy = [&](const region& from) {
            return [&from, &writer](RowGroup g) { writer.copy(from, g.begin, g.end); };
        };
        const auto drop = [](RowGroup) {};
        const Columns ca{a.col_begins, a.col_ends}, cb{b.col_begins, b.col_ends};
        const auto merge = [&](RowGroup ga, RowGroup gb) {
            // No rule writes more runs than the two rows hold together (or takes more room).
            RunSink sink = writer.sink(std::int64_t{ga.end - ga.begin} + (gb.end - gb.begin));
            if constexpr (op == SetOperation::unite) unite_row(ca, ga, cb, gb, sink);
            if constexpr (op == SetOperation::subtract) subtract_row(ca, ga, cb, gb, sink);
            if constexpr (op == SetOperation::intersect) intersect_row(ca, ga, cb, gb, sink);
            writer.done(sink);
        };
        if constexpr (op == SetOperation::unite) walk_row_groups(a, b, copy(a), copy(b), merge);
        if constexpr (op == SetOperation::subtract) walk_row_groups(a, b, copy(a), drop, merge);
        if constexpr (op == SetOperation::intersect) walk_row_groups(a, b, drop, drop, merge);
        writer.finish();
    });
}

}  // namespace

void union2_y_impl(const region& a, const region& b, region* out) {
    combine<SetOperation::unite>(a, b, out);
}

void difference_y_impl(const region& a, const region& b, region* out) {
    combine<SetOperation::subtract>(a, b, out);
}

void intersection_y_impl(const region& a, const region& b, region* out) {
    combine<SetOperation::intersect>(a, b, out);
}

}  // namespace quro

extern "C" void union2_y(const quro::region& a, const quro::region& b, quro::region* out) {
    quro::union2_y_impl(a, b, out);
}

extern "C" void difference_y(const quro::region& a, const quro::region& b, quro::region* out) {
    quro::difference_y_impl(a, b, out);
}

extern "C" void intersection_y(const quro::region& a, const quro::region& b, quro::region* out) {
    quro::intersection_y_impl(a, b, out);
}
