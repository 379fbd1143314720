// Hole filling: the background inside the region's bounding box is split into 4-connected
// components, and those that reach the box's edge are outside; the box minus them is the region
// with its holes filled. Of the box, only the rows the region holds and the empty rows next to
// them are built. Only each component's contact with the box is needed, so the background
// is labelled without being split into parts.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "quro/quro.h"
#include "quro/region/components.h"
#include "quro/region/morphology.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_features.h"
#include "quro/region/row_groups.h"
#include "quro/region/run_writer.h"
#include "quro/region/set_operations.h"

namespace quro {
namespace {

// The box's rows that matter: those in holds and the rows next to them. An empty row of the
// box is background from edge to edge, so whatever touches it is outside; the empty rows beyond
// the first of a gap add nothing, and the work follows the runs, not the box's height.
void box_rows(const region& in, int row1, int row2, int col1, int col2, region& box) {
    const int n = held_runs(in);
    std::vector<Run> runs;
    const auto add = [&](std::int64_t r) {
        if (r < row1 || r > row2 || (!runs.empty() && runs.back().row >= r)) return;
        runs.push_back({static_cast<int>(r), col1, col2});
    };
    for (int i = 0; i < n; ++i) {
        if (i + 1 < n && in.rows[i + 1] == in.rows[i]) continue;  // the row's last run
        add(std::int64_t{in.rows[i]} - 1);
        add(in.rows[i]);
        add(std::int64_t{in.rows[i]} + 1);
    }
    write_runs(box, runs);
}

void fill_up(const region& in, region& out) {
    int row1 = 0, col1 = 0, row2 = 0, col2 = 0;
    run_bounds(in, row1, col1, row2, col2);
    region box(0);
    box_rows(in, row1, row2, col1, col2, box);

    region background(0);
    difference_y_impl(box, in, &background);
    std::vector<int> labels;
    const int count = label_runs(background, 0, labels);
    // A component reaches the box's edge when one of its runs does.
    std::vector<char> outside(static_cast<std::size_t>(count) + 1, 0);
    const int n = held_runs(background);
    for (int i = 0; i < n; ++i) {
        if (background.rows[i] == row1 || background.rows[i] == row2 ||
            background.col_begins[i] == col1 || background.col_ends[i] == col2)
            outside[static_cast<std::size_t>(labels[static_cast<std::size_t>(i)])] = 1;
    }
    // Gathered in the background's order, which is already row-then-column.
    region outer(0);
    RunWriter writer(outer, {});
    RunSink sink = writer.sink(n);
    for (int i = 0; i < n; ++i) {
        sink.put_if(outside[static_cast<std::size_t>(labels[static_cast<std::size_t>(i)])] != 0,
                    background.rows[i], background.col_begins[i], background.col_ends[i]);
    }
    writer.done(sink);
    writer.finish();
    difference_y_impl(box, outer, &out);
}

}  // namespace
}  // namespace quro

extern "C" void fill_up_y(const quro::region& in, quro::region* out) {
    if (out == nullptr || in.num_parts != 0 || quro::held_runs(in) == 0) return;
    quro::region_guarded([&] { quro::fill_up(in, *out); });
}
