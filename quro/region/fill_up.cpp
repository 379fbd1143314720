// Hole filling: the background inside the region's bounding box is split into 4-connected
// components, and those that reach the box's edge are outside; the box minus them is the region
// with its holes filled. Only each component's contact with the box is needed, so the background
// is labelled without being split into parts.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "quro/quro.h"
#include "quro/region/components.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_features.h"
#include "quro/region/row_groups.h"
#include "quro/region/run_writer.h"
#include "quro/region/set_operations.h"

namespace quro {
namespace {

void fill_up(const region& in, region& out) {
    int row1 = 0, col1 = 0, row2 = 0, col2 = 0;
    run_bounds(in, row1, col1, row2, col2);
    const std::int64_t box_rows = std::int64_t{row2} - row1 + 1;
    if (box_rows > INT32_MAX) throw_malloc_failed();
    region box(static_cast<int>(box_rows));
    for (int i = 0; i < box_rows; ++i) {
        box.rows[i] = row1 + i;
        box.col_begins[i] = col1;
        box.col_ends[i] = col2;
    }
    box.num_runs = static_cast<int>(box_rows);

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
