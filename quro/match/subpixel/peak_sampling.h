// The sampled angle block of the sub-pixel peak fits: one score window per trial angle around a
// match, the best cell over all sampled windows, and the step that turns that best cell into the
// match's new pixel, angle and sub-pixel offset. The fits differ only in how they fill a window
// (peak_fit.h).
#ifndef QURO_MATCH_SUBPIXEL_PEAK_SAMPLING_H
#define QURO_MATCH_SUBPIXEL_PEAK_SAMPLING_H

#include <array>
#include <functional>
#include <vector>

#include "quro/quro.h"

namespace quro {

// Windows of `count` (at most 5) trial angles, `size` x `size` cells each, cell (i, j) at
// cells[k][j * size + i]. Values are polarity-corrected: larger is better.
struct PeakWindows {
    static constexpr int kMaxAngles = 5;
    int count = 0;
    int size = 0;
    std::array<float, kMaxAngles> angles{};  // degrees
    std::array<std::vector<float>, kMaxAngles> cells;
    std::array<bool, kMaxAngles> sampled{};
    // Best so far: the first cell, in the order the windows were taken, whose value exceeds every
    // value before it (and 0). best = -1 while there is none.
    double best_value = 0.0;
    int best = -1;
    int i = 0;
    int j = 0;

    // Sets count (1..5) angles around `angle`, angles[k] = angle + (k - count / 2) * step in
    // single precision, and sizes the windows (size >= 3) to zeros; nothing is sampled, no best.
    void reset(int count, int size, float angle, float step);
    float* window(int k) { return cells[static_cast<std::size_t>(k)].data(); }
    const float* window(int k) const { return cells[static_cast<std::size_t>(k)].data(); }
    // Marks window k sampled and lets it compete for the best: a cell wins only when strictly
    // greater than the best so far; inside a window the first cell in row-major order wins ties.
    void take(int k);
};

// Fills window k of the block (already sized), polarity-corrected.
using PeakWindowFill = std::function<void(int k, float* out)>;

// The five-angle search of the peak fit: angles k = 0..4 (the match's angle at index 2). Samples
// 2 and 3, then moves one index at a time toward the side of the best window (lower when the best
// is the lowest sampled index, higher when it is the highest and below 4) while two or three
// windows are sampled, so at most four are filled and the best index's neighbours are sampled
// whenever it lies in 1..3. Windows are filled in ascending index order within a round.
void sample_five_angles(PeakWindows& w, const PeakWindowFill& fill);

// Moves `cand` to the best cell of the block: x += i - centre, y += j - centre, angle = the best
// angle. When the best cell lies inside the window (i and j within 1 .. size - 2) it then fits
// the sub-pixel peak: the three-dimensional fit (peak_surface.h) when both neighbouring angles of
// the best one were sampled, and, when that is not possible or not accepted, the two-dimensional
// fit on the best window. An accepted fit writes dx, dy (and angle = best angle + angle offset for
// the three-dimensional one); a rejected one leaves dx and dy as they were. Without a best cell
// the candidate is left unchanged. The score is never written.
void apply_peak_fit(const PeakWindows& w, int centre, float angle_step, Match& cand);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_PEAK_SAMPLING_H
