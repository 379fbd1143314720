// Boundaries of a region: the pixels that a 3 x 3 erosion removes ("inner"), those that a 3 x 3
// dilation adds ("outer"), and the traced outer contours of the 8-connected components
// ("inner_filled").
#include <cstring>
#include <utility>
#include <vector>

#include "quro/quro.h"
#include "quro/region/components.h"
#include "quro/region/morphology.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_contour.h"
#include "quro/region/region_create.h"
#include "quro/region/set_operations.h"

namespace quro {
namespace {

void square3(region& se) {
    write_runs(se, {{0, 0, 2}, {1, 0, 2}, {2, 0, 2}});
}

// out's runs become the contour pixels of every 8-connected component of in; more than
// kMaxContourPixels of them in all leave out unchanged.
void traced_contours(const region& in, region* out) {
    region parts(0);
    connection_y_impl(in, &parts, 1);
    std::vector<int> cols, rows;
    for (int p = 0; p < parts.num_parts; ++p) {
        const auto left = kMaxContourPixels - static_cast<std::int64_t>(cols.size());
        if (!get_region_contour_impl(*parts.parts[p], &cols, &rows, left)) return;
    }
    std::vector<std::pair<int, int>> points(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) points[i] = {rows[i], cols[i]};
    out->num_runs = 0;
    append_point_runs(*out, points);
}

}  // namespace
}  // namespace quro

extern "C" void boundary_y(const quro::region& in, quro::region* out, const char* type) {
    using namespace quro;
    if (out == nullptr || type == nullptr || in.num_parts != 0) return;
    const bool inner = std::strcmp(type, "inner") == 0, outer = std::strcmp(type, "outer") == 0;
    const bool filled = std::strcmp(type, "inner_filled") == 0;
    if (!inner && !outer && !filled) return;
    region_guarded([&] {
        if (filled) {
            traced_contours(in, out);
            return;
        }
        region se(0), step(0);
        square3(se);
        if (inner) {
            erosion_impl(in, se, &step, 1, 1);
            difference_y_impl(in, step, out);
        } else {
            dilation_impl(in, se, &step, 1, 1);
            difference_y_impl(step, in, out);
        }
    });
}
