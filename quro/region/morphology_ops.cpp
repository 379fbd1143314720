// The operators built on erosion and dilation: opening, closing, the two hats and hit-or-miss.
// Each works through temporaries, so out may be, or share arrays with, any of its inputs.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "quro/quro.h"
#include "quro/region/morphology.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_features.h"
#include "quro/region/row_groups.h"
#include "quro/region/set_operations.h"

namespace quro {
namespace {

// Whether the operators can work: an output, an unsplit input and a usable element.
bool usable(const region& in, const region& se, const region* out) {
    int col = 0, row = 0;
    return out != nullptr && in.num_parts == 0 && resolve_reference(se, col, row);
}

void opening(const region& in, const region& se, region* out) {
    int col = -1, row = -1;
    resolve_reference(se, col, row);
    region eroded(0);
    erosion_impl(in, se, &eroded, col, row);
    dilation_impl(eroded, se, out, col, row);
}

// se reflected about (cc, rc): runs mapped to row 2 rc - row, columns 2 cc - col_end ..
// 2 cc - col_begin. Returns false when a mapped value leaves the int range.
bool reflect_about(const region& se, int cc, int rc, region& reflected) {
    const int n = held_runs(se);
    std::vector<Run> runs;
    runs.reserve(static_cast<std::size_t>(n));
    for (int i = n - 1; i >= 0; --i) {
        const std::int64_t row = 2 * std::int64_t{rc} - se.rows[i];
        const std::int64_t begin = 2 * std::int64_t{cc} - se.col_ends[i];
        const std::int64_t end = 2 * std::int64_t{cc} - se.col_begins[i];
        if (row < INT_MIN || row > INT_MAX || begin < INT_MIN || end > INT_MAX) return false;
        runs.push_back({static_cast<int>(row), static_cast<int>(begin), static_cast<int>(end)});
    }
    write_runs(reflected, runs);
    return true;
}

// Dilation, then erosion, both by the element reflected about its bounding box centre c and with
// c as reference; clipped to the image domain when in has one and the result leaves it.
void closing(const region& in, const region& se, region* out) {
    int cc = -1, rc = -1;
    resolve_reference(se, cc, rc);
    region reflected(0), dilated(0);
    if (!reflect_about(se, cc, rc, reflected)) return;
    dilation_impl(in, reflected, &dilated, cc, rc);
    erosion_impl(dilated, reflected, out, cc, rc);  // in's width and height come along
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    const int width = out->width, height = out->height;
    if (width > 0 && height > 0 && run_bounds(*out, r1, c1, r2, c2) &&
        (r1 < 0 || c1 < 0 || r2 >= height || c2 >= width)) {
        std::vector<Run> domain(static_cast<std::size_t>(height));
        for (int r = 0; r < height; ++r) domain[static_cast<std::size_t>(r)] = {r, 0, width - 1};
        region box(0);
        write_runs(box, domain);
        intersection_y_impl(*out, box, out);
    }
}

// Hit-or-miss: the positions where se_hit lies in `in` and se_miss in its complement, both
// shifted by one reference. A position sees a pixel of `in` through se_miss exactly when it lies
// in the dilation of `in` by se_miss reflected about the reference, so both parts work on the
// rows `in` holds, never on its bounding box.
void hit_or_miss(const region& in, const region& hit, const region& miss, region* out, int ref_col,
                 int ref_row) {
    resolve_reference(hit, ref_col, ref_row);
    region reflected(0), fits_hit(0), sees_in(0);
    if (!reflect_about(miss, ref_col, ref_row, reflected)) return;
    erosion_impl(in, hit, &fits_hit, ref_col, ref_row);
    dilation_impl(in, reflected, &sees_in, ref_col, ref_row);
    const int width = in.width, height = in.height;
    difference_y_impl(fits_hit, sees_in, out);
    out->width = width;
    out->height = height;
}

// The gaps between consecutive runs of each row of se (runs sorted by row, then column).
void inner_gaps(const region& se, region& gaps) {
    const int n = held_runs(se);
    std::vector<Run> runs;
    for (int i = 1; i < n; ++i)
        if (se.rows[i] == se.rows[i - 1] && std::int64_t{se.col_ends[i - 1]} + 1 < se.col_begins[i])
            runs.push_back({se.rows[i], se.col_ends[i - 1] + 1, se.col_begins[i] - 1});
    write_runs(gaps, runs);
}

}  // namespace
}  // namespace quro

using quro::region;

extern "C" void opening_y(const region& in, const region& se, region* out) {
    if (!quro::usable(in, se, out)) return;
    quro::region_guarded([&] { quro::opening(in, se, out); });
}

extern "C" void closing_y(const region& in, const region& se, region* out) {
    if (!quro::usable(in, se, out)) return;
    quro::region_guarded([&] { quro::closing(in, se, out); });
}

extern "C" void top_hat_y(const region& in, const region& se, region* out) {
    if (!quro::usable(in, se, out)) return;
    quro::region_guarded([&] {
        region opened(0);
        quro::opening(in, se, &opened);
        quro::difference_y_impl(in, opened, out);
    });
}

extern "C" void bottom_hat_y(const region& in, const region& se, region* out) {
    if (!quro::usable(in, se, out)) return;
    quro::region_guarded([&] {
        region closed(0);
        quro::closing(in, se, &closed);
        quro::difference_y_impl(closed, in, out);
    });
}

extern "C" void hit_or_miss_y(const region& in, const region& se_hit, const region& se_miss,
                              region* out, int ref_col, int ref_row) {
    if (!quro::usable(in, se_hit, out) || !quro::usable(in, se_miss, out)) return;
    quro::region_guarded([&] { quro::hit_or_miss(in, se_hit, se_miss, out, ref_col, ref_row); });
}

extern "C" void hit_or_miss_y2(const region& in, const region& se, region* out, int ref_col,
                               int ref_row) {
    if (!quro::usable(in, se, out)) return;
    quro::region_guarded([&] {
        region gaps(0);
        quro::inner_gaps(se, gaps);
        if (quro::held_runs(gaps) == 0) {
            quro::resolve_reference(se, ref_col, ref_row);
            quro::erosion_impl(in, se, out, ref_col, ref_row);
        } else {
            quro::hit_or_miss(in, se, gaps, out, ref_col, ref_row);
        }
    });
}
