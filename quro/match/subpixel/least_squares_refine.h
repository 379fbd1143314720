// Least-squares sub-pixel refinement of selected matches: every model point looks for the image
// edge along its normal, the point-to-edge distances give robust weights, and a weighted
// least-squares step corrects the match's row and column offsets and its angle. Sub-pixel modes
// 2, 4 and 5 run it on the last level searched, mode 3 on full resolution after the scale-back.
#ifndef QURO_MATCH_SUBPIXEL_LEAST_SQUARES_REFINE_H
#define QURO_MATCH_SUBPIXEL_LEAST_SQUARES_REFINE_H

#include <cstddef>
#include <functional>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/subpixel/subpixel_mode.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// One row of the least-squares mode table.
struct LeastSquaresRun {
    SubpixelMode mode;
    bool at_full_resolution;  // false: the last level searched, before the scale-back
    int iterations;
    // Point step of every iteration: step_factor * (L - level) when L > step_min_levels, else 0
    // (0 lets the template pick 2^(num_levels - level)).
    int step_factor;
    int step_min_levels;
    float convergence;  // shift (pixels) and angle change (degrees) both below it: converged
};

// The modes that refine by least squares, in the order 2, 4, 5, 3.
inline constexpr LeastSquaresRun kLeastSquaresRuns[4] = {
    {kSubpixelLeastSquares2, false, 2, 0, 0, 0.01f},
    {kSubpixelLeastSquares3, false, 3, 2, 3, 0.005f},
    {kSubpixelLeastSquares4, false, 4, 1, 0, 0.001f},
    {kSubpixelLeastSquaresFull, true, 2, 0, 0, 0.01f},
};

// The table row of `mode`, or null when the mode does not refine by least squares.
const LeastSquaresRun* least_squares_run(int mode);

// The point step of the run's iterations on `level` (0-based) of a search over `levels_used`
// levels: what rotated_template receives (below 1: the template's own level-dependent step).
int least_squares_point_step(const LeastSquaresRun& run, int levels_used, int level);

// Weights of correspondences from their signed point-to-edge distances. With a cell value below 1,
// Tukey's biweight around the median: t = max(0.05, 1.4826 * MAD) * 4.685, and a distance d gets
// (1 - ((d - median) / t)^2)^2, or 0 when |d - median| > t. With a cell value of 1 or more every
// weight is 1. Returns how many weights are above 1e-5 (a NaN distance weighs 0).
int least_squares_weights(const std::vector<float>& distances, int cell_value,
                          std::vector<float>& weights);

// How a candidate's model points are posed. The rigid, scaled and multi-model searches pose with
// the candidate's row scale (rotated_template); the anisotropic search with both scales
// (rotated_template_aniso). A search that deforms its matches sets `move_points`: it receives the
// candidate and its posed points (positions relative to the candidate's centre, directions) and
// may move them, before their edges are searched, in every iteration.
struct PoseSource {
    enum class Scales { kRow, kRowAndColumn };
    Scales scales = Scales::kRow;
    std::function<void(const Match& cand, std::vector<Feature>& points)> move_points;
    // The scales are unknowns of the step beside position and angle (the uniform scale, or the
    // row and column scales), kept inside the record's scale ranges.
    bool refine_scales = false;

    static PoseSource rigid() { return PoseSource{}; }
    static PoseSource aniso() { return PoseSource{Scales::kRowAndColumn, nullptr}; }
};

// How one candidate's refinement ended.
enum class LeastSquaresEnd {
    kIterationsDone,  // every iteration ran without converging
    kConverged,       // a step fell below the run's convergence limit
    kTooFewPoints,    // too few weighted correspondences: the pose as it stood was kept
    kSolveFailed,     // the solve found no step within its bounds
    kError,           // bad level, image or model level, or an internal failure: pose kept
};

// One applied step: row and column change (pixels), angle change (degrees).
struct LeastSquaresStep {
    float row;
    float col;
    float angle;
};

// What happened to one candidate: its steps in order (one per applied iteration), how it ended,
// and the point counts of the last iteration that looked for edges.
struct LeastSquaresTrace {
    std::vector<LeastSquaresStep> steps;
    LeastSquaresEnd end = LeastSquaresEnd::kError;
    int sampled_points = 0;   // model points posed
    int correspondences = 0;  // of them, points that found an image edge
    int weighted_points = 0;  // of them, points with weight above 1e-5
};

// The level a refinement works on and the search values it needs.
struct LeastSquaresLevel {
    const cv::Mat* image = nullptr;  // the level's 8-bit pyramid image (its own Sobel; no mask)
    int level = 0;                   // 0-based level index of the image
    int levels_used = 0;             // L: levels of the search (the step rule of modes 4 and 5)
    int cell_value = 1;              // the level's cell value: weights and solve tolerance
    int min_contrast = 1;            // gradient threshold of the edge search
};

// Refines one candidate in place with the run's iterations. The candidate's x and y are pixels of
// the level and dx, dy its sub-pixel parts; dx, dy and angle change, nothing else does. The model
// level is level + 1 of `rec`. Each step's rotation may be as large as the model level's angle
// step (angle_step) where that exceeds the fixed bound of pose_least_squares_step: the level's
// own search leaves up to about a step to correct. Loops over model points run in parallel from
// 64 points on (the result is the same either way; `serial` forces one thread). Never throws: a
// failure keeps the pose reached so far.
LeastSquaresTrace refine_match_least_squares(Match& cand, const LeastSquaresLevel& lvl,
                                             const LeastSquaresRun& run,
                                             const ShapeModelRecord& rec, const PoseSource& src,
                                             bool serial = false);

// The search stage: refines the candidates one after another on the level `lvl` with the run of
// `mode` (nothing for a mode without least squares, an empty or non-8-bit image, or a level the
// record lacks).
// `traces`, when given, receives one trace per candidate in list order (kError for candidates
// left alone because of bad input), and nothing for a mode without least squares. The limit is
// asked before each candidate: once it has passed the stage stops and returns false (the
// candidates are then partly refined and the search gives them up); true otherwise. Never throws.
bool refine_matches_least_squares(std::vector<Match>& cands, const LeastSquaresLevel& lvl, int mode,
                                  const ShapeModelRecord& rec, const PoseSource& src,
                                  std::vector<LeastSquaresTrace>* traces = nullptr,
                                  const TimeLimit& limit = {});

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_LEAST_SQUARES_REFINE_H
