// Erosion and dilation of a region by a structuring element, run by run. The input's distinct rows
// are indexed once; the output rows are cut into bands that are worked in parallel, each into runs
// of its own, and the bands are concatenated in order, so the result does not depend on the
// threads. Erosion intersects, per output row, the positions at which each element run fits inside
// the input runs of its row; dilation merges, per output row, the shifted input runs of every
// element run that lands there (a k-way merge of sorted lists, touching runs joined).
#include <tbb/parallel_for.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "quro/quro.h"
#include "quro/region/morphology.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_features.h"
#include "quro/region/row_groups.h"
#include "quro/region/run_writer.h"

namespace quro {
namespace {

// An element run shifted by the reference: row offset, first and last column offset.
struct ElementRun {
    int dr, cb, ce;
};

struct Interval {
    int begin, end;
};

// The input's distinct rows (ascending for sorted runs) and where the runs of each start.
struct RowIndex {
    std::vector<int> rows;
    std::vector<int> starts;  // runs starts[i] .. starts[i + 1] - 1 lie on rows[i]
    const int* begins = nullptr;
    const int* ends = nullptr;
    std::size_t widest = 0;  // most runs on one row

    std::size_t size() const { return rows.size(); }
    std::size_t lower(std::int64_t row) const {
        return static_cast<std::size_t>(
            std::lower_bound(rows.begin(), rows.end(), row,
                             [](int r, std::int64_t v) { return r < v; }) -
            rows.begin());
    }
    // The index at or after c that holds `row`; rows.size() when none before a larger row.
    std::size_t seek(std::size_t c, std::int64_t row) const {
        while (c < rows.size() && rows[c] < row) ++c;
        return c;
    }
};

RowIndex index_rows(const region& in) {
    RowIndex ix;
    const int n = held_runs(in);
    ix.begins = in.col_begins;
    ix.ends = in.col_ends;
    for (int i = 0; i < n; ++i) {
        if (i > 0 && in.rows[i] == in.rows[i - 1]) continue;
        if (!ix.starts.empty())
            ix.widest =
                std::max<std::size_t>(ix.widest, static_cast<std::size_t>(i - ix.starts.back()));
        ix.rows.push_back(in.rows[i]);
        ix.starts.push_back(i);
    }
    if (!ix.starts.empty())
        ix.widest =
            std::max<std::size_t>(ix.widest, static_cast<std::size_t>(n - ix.starts.back()));
    ix.starts.push_back(n);
    return ix;
}

bool within_int(std::int64_t v) {
    return v > INT_MIN + 1 && v < INT_MAX - 1;
}

// se's runs shifted by the reference, sorted by row, then columns. False when a shifted value, or
// a position the operators compute from it and in's runs, would leave the int range.
bool shifted_element(const region& in, const region& se, int ref_col, int ref_row,
                     std::vector<ElementRun>& el) {
    const int n = held_runs(se);
    el.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const std::int64_t dr = std::int64_t{se.rows[i]} - ref_row;
        const std::int64_t cb = std::int64_t{se.col_begins[i]} - ref_col;
        const std::int64_t ce = std::int64_t{se.col_ends[i]} - ref_col;
        if (!within_int(dr) || !within_int(cb) || !within_int(ce)) return false;
        el.push_back({static_cast<int>(dr), static_cast<int>(cb), static_cast<int>(ce)});
    }
    std::stable_sort(el.begin(), el.end(), [](const ElementRun& a, const ElementRun& b) {
        if (a.dr != b.dr) return a.dr < b.dr;
        if (a.cb != b.cb) return a.cb < b.cb;
        return a.ce < b.ce;
    });
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!run_bounds(in, r1, c1, r2, c2)) return true;
    std::int64_t e_r1 = INT64_MAX, e_r2 = INT64_MIN, e_c1 = INT64_MAX, e_c2 = INT64_MIN;
    for (const ElementRun& e : el) {
        e_r1 = std::min<std::int64_t>(e_r1, e.dr);
        e_r2 = std::max<std::int64_t>(e_r2, e.dr);
        e_c1 = std::min<std::int64_t>(e_c1, std::min(e.cb, e.ce));
        e_c2 = std::max<std::int64_t>(e_c2, std::max(e.cb, e.ce));
    }
    const auto reach = [](std::int64_t lo, std::int64_t hi, std::int64_t e_lo, std::int64_t e_hi) {
        return within_int(lo - e_hi) && within_int(hi - e_lo) && within_int(lo + e_lo) &&
               within_int(hi + e_hi);
    };
    return reach(r1, r2, e_r1, e_r2) && reach(c1, c2, e_c1, e_c2);
}

struct BandRuns {
    std::vector<int> rows, begins, ends;
    void put(int row, int begin, int end) {
        rows.push_back(row);
        begins.push_back(begin);
        ends.push_back(end);
    }
};

// Cuts the index range 0 .. n - 1 of distinct input rows into bands and works them in parallel
// (inline when there is one); work(i0, i1, index of the band, its runs).
template <class Work>
void run_bands(std::size_t n, std::vector<BandRuns>& bands, Work work) {
    const std::size_t count = std::clamp<std::size_t>(n / 32, 1, 256);
    bands.resize(count);
    const auto body = [&](std::size_t t) { work(n * t / count, n * (t + 1) / count, t, bands[t]); };
    if (count == 1)
        body(0);
    else
        tbb::parallel_for(std::size_t{0}, count, body);
}

// out's runs become the bands' runs, in band order.
void write_bands(region& out, std::initializer_list<const region*> inputs,
                 const std::vector<BandRuns>& bands) {
    RunWriter writer(out, inputs);
    std::int64_t total = 0;
    for (const BandRuns& b : bands) total += static_cast<std::int64_t>(b.rows.size());
    RunSink sink = writer.sink(total);
    for (const BandRuns& b : bands) {
        const std::size_t bytes = b.rows.size() * sizeof(int);
        if (bytes == 0) continue;
        std::memcpy(sink.rows + sink.n, b.rows.data(), bytes);
        std::memcpy(sink.begins + sink.n, b.begins.data(), bytes);
        std::memcpy(sink.ends + sink.n, b.ends.data(), bytes);
        sink.n += static_cast<std::int64_t>(b.rows.size());
    }
    writer.done(sink);
    writer.finish();
}

// The output rows of erosion are the input rows shifted by the row offset of element run 0 (any
// run would do); row i of the index gives output row rows[i] - el[0].dr. Every element run g then needs input
// row (output row + dr_g), found by a cursor that only moves forward.
void erode_band(const RowIndex& ix, const std::vector<ElementRun>& el, std::size_t i0,
                std::size_t i1, BandRuns& out) {
    if (i0 >= i1) return;
    const std::size_t k = el.size();
    std::vector<std::size_t> cursor(k);
    for (std::size_t g = 0; g < k; ++g)
        cursor[g] = ix.lower(std::int64_t{ix.rows[i0]} - el[0].dr + el[g].dr);
    // Two interval buffers, each long enough for what is written into it (an intersection holds
    // fewer intervals than its two lists together); n_cur intervals of cur are current.
    std::vector<Interval> cur(ix.widest), next;
    std::size_t n_cur = 0;
    for (std::size_t i = i0; i < i1; ++i) {
        const int row = ix.rows[i] - el[0].dr;
        if (cur.size() < ix.widest) cur.resize(ix.widest);  // after a swap, at most twice per band
        n_cur = 0;
        for (int j = ix.starts[i]; j < ix.starts[i + 1]; ++j) {
            const int b = ix.begins[j] - el[0].cb, e = ix.ends[j] - el[0].ce;
            cur[n_cur] = {b, e};
            n_cur += b <= e;
        }
        for (std::size_t g = 1; g < k && n_cur > 0; ++g) {
            const std::int64_t want = std::int64_t{row} + el[g].dr;
            const std::size_t c = cursor[g] = ix.seek(cursor[g], want);
            if (c == ix.size() || ix.rows[c] != want) {
                n_cur = 0;
                break;
            }
            // Intersection of two interval lists ordered by column; the one that ends first
            // cannot meet anything further. An element run wider than an input run gives an
            // empty interval, which meets nothing. Selects, not branches: which list moves on is
            // as good as random.
            const std::size_t room =
                n_cur + static_cast<std::size_t>(ix.starts[c + 1] - ix.starts[c]);
            if (next.size() < room) next.resize(room);
            const int cb = el[g].cb, ce = el[g].ce, stop = ix.starts[c + 1];
            std::size_t a = 0, n_next = 0;
            for (int j = ix.starts[c]; a < n_cur && j < stop;) {
                const int b = ix.begins[j] - cb, e = ix.ends[j] - ce;
                const int lo = std::max(cur[a].begin, b), hi = std::min(cur[a].end, e);
                next[n_next] = {lo, hi};
                n_next += lo <= hi;
                const bool next_a = cur[a].end < e;
                a += next_a;
                j += !next_a;
            }
            std::swap(cur, next);
            n_cur = n_next;
        }
        for (std::size_t v = 0; v < n_cur; ++v) out.put(row, cur[v].begin, cur[v].end);
    }
}

// One input run list of the dilation's merge: the runs run .. stop - 1 of an input row, shifted
// by the columns of one element run.
struct MergeList {
    int run, stop, cb, ce;
};

// Merges the lists into runs of `row`, in column order. An output run starts at the smallest
// first column left in any list and takes in, list by list, every run beginning at most one
// column past its end, until a pass over all lists adds nothing: each list is sorted, so no run
// left can join it then. Most input runs join a run that has started, so this costs a few passes
// over the lists per output run plus one step per input run.
void merge_row(const RowIndex& ix, std::vector<MergeList>& lists, int row, BandRuns& out) {
    for (;;) {
        std::int64_t begin = INT64_MAX;
        for (const MergeList& l : lists)
            if (l.run < l.stop) begin = std::min<std::int64_t>(begin, ix.begins[l.run] + l.cb);
        if (begin == INT64_MAX) return;
        std::int64_t end = begin - 1;
        for (bool grew = true; grew;) {
            grew = false;
            for (MergeList& l : lists) {
                for (; l.run < l.stop && ix.begins[l.run] + l.cb <= end + 1; ++l.run) {
                    end = std::max<std::int64_t>(end, ix.ends[l.run] + l.ce);
                    grew = true;
                }
            }
        }
        out.put(row, static_cast<int>(begin), static_cast<int>(end));
    }
}

// The output rows of band t run from (its first input row + the smallest row offset) up to
// (the next band's first input row + that offset); each comes from the input rows that element
// runs shift onto it, one cursor per element run.
void dilate_band(const RowIndex& ix, const std::vector<ElementRun>& el, std::size_t i0,
                 std::size_t i1, bool first_band, BandRuns& out) {
    if (i0 >= i1) return;
    const std::size_t k = el.size(), n = ix.size();
    const std::int64_t lo = first_band ? INT64_MIN : std::int64_t{ix.rows[i0]} + el[0].dr;
    const std::int64_t hi = i1 == n ? INT64_MAX : std::int64_t{ix.rows[i1]} + el[0].dr;
    std::vector<std::size_t> cursor(k);
    for (std::size_t g = 0; g < k; ++g) cursor[g] = first_band ? 0 : ix.lower(lo - el[g].dr);
    std::vector<MergeList> lists;
    lists.reserve(k);
    for (;;) {
        std::int64_t row = INT64_MAX;
        for (std::size_t g = 0; g < k; ++g)
            if (cursor[g] < n) row = std::min(row, std::int64_t{ix.rows[cursor[g]]} + el[g].dr);
        if (row >= hi) break;
        lists.clear();
        for (std::size_t g = 0; g < k; ++g) {
            const std::size_t c = cursor[g];
            if (c >= n || std::int64_t{ix.rows[c]} + el[g].dr != row) continue;
            lists.push_back({ix.starts[c], ix.starts[c + 1], el[g].cb, el[g].ce});
            ++cursor[g];
        }
        merge_row(ix, lists, static_cast<int>(row), out);
    }
}

enum class Morph { erode, dilate };

template <Morph op>
void morph(const region& in, const region& se, region* out, int ref_col, int ref_row) {
    int unused_col = 0, unused_row = 0;
    if (out == nullptr || in.num_parts != 0 || !resolve_reference(se, unused_col, unused_row))
        return;
    region_guarded([&] {
        std::vector<ElementRun> el;
        if (!shifted_element(in, se, ref_col, ref_row, el)) return;
        // Erosion intersects the widest element runs first: they leave the fewest positions, so
        // the later intersections walk short lists.
        if constexpr (op == Morph::erode)
            std::stable_sort(el.begin(), el.end(), [](const ElementRun& a, const ElementRun& b) {
                return std::int64_t{a.ce} - a.cb > std::int64_t{b.ce} - b.cb;
            });
        const RowIndex ix = index_rows(in);
        std::vector<BandRuns> bands;
        run_bands(ix.size(), bands,
                  [&](std::size_t i0, std::size_t i1, std::size_t t, BandRuns& b) {
                      if constexpr (op == Morph::erode) erode_band(ix, el, i0, i1, b);
                      if constexpr (op == Morph::dilate) dilate_band(ix, el, i0, i1, t == 0, b);
                  });
        const int width = in.width, height = in.height;
        write_bands(*out, {&in, &se}, bands);
        out->width = width;
        out->height = height;
    });
}

}  // namespace

bool resolve_reference(const region& se, int& ref_col, int& ref_row) {
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (se.num_parts != 0 || !run_bounds(se, r1, c1, r2, c2)) return false;
    if (ref_col == -1 || ref_row == -1) {
        ref_row = static_cast<int>(r1 + (std::int64_t{r2} - r1 + 1) / 2);
        ref_col = static_cast<int>(c1 + (std::int64_t{c2} - c1 + 1) / 2);
    }
    return true;
}

void write_runs(region& out, const std::vector<Run>& runs) {
    RunWriter writer(out, {});
    RunSink sink = writer.sink(static_cast<std::int64_t>(runs.size()));
    for (const Run& r : runs) sink.put(r.row, r.begin, r.end);
    writer.done(sink);
    writer.finish();
}

void erosion_impl(const region& in, const region& se, region* out, int ref_col, int ref_row) {
    morph<Morph::erode>(in, se, out, ref_col, ref_row);
}

void dilation_impl(const region& in, const region& se, region* out, int ref_col, int ref_row) {
    morph<Morph::dilate>(in, se, out, ref_col, ref_row);
}

}  // namespace quro

extern "C" void erosion2_y(const quro::region& in, const quro::region& se, quro::region* out,
                           int ref_col, int ref_row) {
    quro::resolve_reference(se, ref_col, ref_row);
    quro::erosion_impl(in, se, out, ref_col, ref_row);
}

extern "C" void dilation2_y(const quro::region& in, const quro::region& se, quro::region* out,
                            int ref_col, int ref_row) {
    quro::resolve_reference(se, ref_col, ref_row);
    quro::dilation_impl(in, se, out, ref_col, ref_row);
}
