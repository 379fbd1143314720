// Scoring a posed model level on a pair of normal maps over a square window of trial positions.
// The level refinement, the sub-pixel peak fit and the scale refinement all score through
// score_window, so that they place, clamp and sum alike.
//
// Window geometry. A window of `size` x `size` cells is laid over trial positions of the template
// box's top-left corner: cell (i, j) (column i, row j) puts the box corner at map pixel
// (x0 + i, y0 + j). For a predicted reference point (px, py) in map coordinates and a reach r
// (4 for the 8 x 8 window, c for the (2c + 1) square window), x0 starts at px + min_x - r and is
// moved so that the window's corner columns lie in 1 .. cols - 2 (ending at cols - 2 when it would
// pass it, then starting at 1 when it would start below 1: maps too narrow for the window start at
// 1); rows alike. The map position of template point k in cell (i, j) is found linearly,
// (y0 + j) * cols + (x0 + i) + off_k with off_k = (y_k - min_y) * cols + (x_k - min_x), so a
// template that reaches past the end of a row reads the next row. A cell whose linear corner is
// at or above (rows - H + 1) * cols - W + 1 (W, H the template box size) would read past the last
// map pixel: it stays 0 and nothing is read for it. A window placed at a given corner
// (score_window_at) may also start before the maps: a cell whose linear corner is below 0 stays 0
// the same way.
#ifndef QURO_MATCH_REFINE_WINDOW_SCORE_H
#define QURO_MATCH_REFINE_WINDOW_SCORE_H

#include <cstddef>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/templates.h"

namespace quro {

// Read-only view of a level's two normal maps (float, one channel, same size, continuous).
struct NormalMapsRef {
    const float* nx = nullptr;
    const float* ny = nullptr;
    int rows = 0;
    int cols = 0;
};

// Checks the maps (CV_32FC1, same size, continuous; else cv::Exception) and views them.
NormalMapsRef normal_maps_ref(const cv::Mat& nx, const cv::Mat& ny);

// A NormalTemplate prepared for window scoring on maps of a given column count: per point the
// linear offset from the box corner and the direction, in template order or in a given order.
struct WindowTemplate {
    std::vector<std::ptrdiff_t> offsets;
    std::vector<float> gx;
    std::vector<float> gy;
    int min_x = 0;
    int min_y = 0;
    // 64-bit: the posed positions of a template may span more than the int range.
    std::ptrdiff_t box_width = 0;   // W = max_x - min_x + 1
    std::ptrdiff_t box_height = 0;  // H = max_y - min_y + 1
    int cols = 0;        // the map width the offsets were made for
    std::size_t size() const { return offsets.size(); }
};

// Fills `out` from `t` for maps of `cols` columns, reusing its capacity. With `order` null the
// points keep template order; otherwise point p of `out` is template point order[p], for
// p < t.size() (every entry must lie in 0 .. t.size() - 1; else cv::Exception).
void prepare_window_template(const NormalTemplate& t, int cols, const int* order,
                             WindowTemplate& out);

// Corner of a window in map coordinates.
struct WindowCorner {
    int x0;
    int y0;
};

// The window corner for predicted reference point (px, py), reach r and `size` (see the top).
WindowCorner window_corner(const WindowTemplate& t, int rows, int cols, int px, int py, int reach,
                           int size);

// Fills out[j * size + i] (size * size floats) with the sums over template points
// [begin, end) of the dot product of the point's direction with the normal at its pixel, or of its
// absolute value when `absolute` (the polarity of each point ignored), for the window of
// window_corner(t, maps.rows, maps.cols, px, py, reach, size); returns that corner. Values are not
// divided by the point count. Sums run in point order with one fused multiply-add per point, on
// eight cells at a time when the processor has AVX2, with the same bits either way. Requires
// t.cols == maps.cols, begin <= end <= t.size() and size >= 1 (else cv::Exception).
WindowCorner score_window(const NormalMapsRef& maps, const WindowTemplate& t, std::size_t begin,
                          std::size_t end, int px, int py, int reach, int size, bool absolute,
                          float* out);

// The window corner for predicted reference point (px, py) and reach r without moving it into the
// maps: (px + min_x - r, py + min_y - r), kept within +-2^30.
WindowCorner window_corner_unclamped(const WindowTemplate& t, int px, int py, int reach);

// As score_window, for the window whose cell (0, 0) puts the box corner at `corner` as given (not
// moved into the maps; any int corner is allowed). Cells whose box would start before the first
// map pixel or end past the last stay 0 and read nothing.
void score_window_at(const NormalMapsRef& maps, const WindowTemplate& t, std::size_t begin,
                     std::size_t end, WindowCorner corner, int size, bool absolute, float* out);

// Best cell of a filled window: the maximum (positive polarity) or the minimum negated (reversed
// contrast), at its first cell in row-major order.
struct WindowPeak {
    float value;
    int i;
    int j;
};
WindowPeak window_peak(const float* cells, int size, bool positive);

// The cell groups of a level's partition: cell_index holds the cell of every point plus one last
// entry, cell_order the point indices ordered by cell (its first cell_index.size() - 1 entries are
// used, each below that count; else cv::Exception). A group ends where the next point in the order
// lies in another cell, and at the last point; `ends` receives the end (exclusive position in the
// order) of each group.
void cell_group_ends(const std::vector<int>& cell_index, const std::vector<int>& cell_order,
                     std::vector<std::size_t>& ends);

// Result of scoring one template around a predicted position: the mean dot product P of the best
// cell (the sum of the cells' best values over all points for a cell partition), the cell (the
// mean best cell, rounded half away from zero, for a cell partition), the position in level
// coordinates that cell gives (map position minus the maps' border), and whether the cell lies on
// the window's edge.
struct WindowMatch {
    float score;
    int i;
    int j;
    int x;
    int y;
    bool on_edge;
    bool positive;  // the polarity whose peak was taken
};

// Which peak of a filled window the scorer takes: the maximum (the model's own contrast), the
// negated minimum (reversed contrast), or whichever of the two is larger (a candidate whose
// polarity is still to be settled; the maximum on a tie).
enum class PeakPolarity { positive, reversed, either };

// Scores posed templates of one level for one candidate: the 8 x 8 window, or with a cell
// partition each cell's points in their own (2c + 1) square window, c = max(4, cell value).
class WindowScorer {
public:
    // metric 0 ignores each point's polarity; `polarity` picks the peak of each window.
    // border: zero frame of the maps around the level image.
    WindowScorer(const NormalMapsRef& maps, int border, int metric, PeakPolarity polarity);
    WindowScorer(const NormalMapsRef& maps, int border, int metric, bool positive)
        : WindowScorer(maps, border, metric,
                       positive ? PeakPolarity::positive : PeakPolarity::reversed) {}

    // Switches to the cell partition of a level: cell_index holds the cell of every template
    // point plus one last entry, cell_order the point indices ordered by cell (its first
    // cell_index.size() - 1 entries are used, each below that count; else cv::Exception). Both
    // must outlive the scorer.
    void use_cells(int cell_value, const std::vector<int>& cell_index,
                   const std::vector<int>& cell_order);

    // Scores `t` (at least one point; with cells exactly as many as the partition holds, else
    // cv::Exception) with the predicted reference point (px, py) in map coordinates.
    WindowMatch score(const NormalTemplate& t, int px, int py);

    // The two halves of score: `t` prepared for these maps (in cell order with a partition), and
    // the scoring of a template so prepared, with the same result as score(t, px, py).
    void prepare(const NormalTemplate& t, WindowTemplate& out) const;
    WindowMatch score_prepared(const WindowTemplate& w, int px, int py);

    int border() const { return border_; }

private:
    NormalMapsRef maps_;
    int border_;
    bool absolute_;
    PeakPolarity polarity_;
    int reach_ = 4;
    int size_ = 8;
    const std::vector<int>* cell_order_ = nullptr;
    std::vector<std::size_t> group_ends_;  // end of each cell group in cell order
    WindowTemplate prepared_;
    std::vector<float> cells_;
};

}  // namespace quro

#endif  // QURO_MATCH_REFINE_WINDOW_SCORE_H
