#include "quro/match/subpixel/least_squares_refine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "quro/edges/gradient_peak.h"
#include "quro/match/angle_scale_lists.h"
#include "quro/match/subpixel/pose_step.h"
#include "quro/match/subpixel/segment_walk.h"
#include "quro/model_pose.h"
#include "quro/model_transforms.h"
#include "quro/numeric.h"
#include "quro/parallel.h"

namespace quro {
namespace {

// Below this many points a loop runs on the calling thread; each body writes only its own
// point's entries, so both ways give the same result.
constexpr std::size_t kParallelFromPoints = 64;

// An image edge counts as the model point's edge when the directions agree above this.
constexpr float kMinAgreement = 0.923f;

// How the per-point loops are cut: one call on this thread when asked to run serially or for few
// points, else tbb chunks.
RangeCut point_cut(bool serial) {
    return RangeCut{.serial_below = serial ? SIZE_MAX : kParallelFromPoints};
}

// An image edge: sub-pixel position and unit normal, as get_subpix_pos_mat writes it.
struct ImageEdge {
    float x = 0.f;
    float y = 0.f;
    float nx = 0.f;
    float ny = 0.f;
};

// Direction agreement of an edge with the model direction (gx, gy) under the match's polarity
// (1 or -1). Polarity 0 stands for a model that ignores the polarity of each point (metric 0): an
// edge of either contrast agrees by the absolute value.
float agreement(const ImageEdge& e, float gx, float gy, float polarity) {
    const float dot = gx * e.nx + gy * e.ny;
    return polarity == 0.f ? std::fabs(dot) : dot * polarity;
}

// How one candidate's points look for their image edges: on the level image, with the gradient
// threshold, the match's polarity (0: either, see agreement) and the cells of the walk along a
// point's direction.
struct EdgeSearch {
    const cv::Mat* img = nullptr;
    float threshold = 0.f;
    float polarity = 0.f;
    int walk_cells = 0;
};

// Along the ray from the point's pixel `at` (with the point's offset `frac` inside it) in direction
// (dx, dy): the first pixel among the walk's cells 1 .. walk_cells - 1 (as many as the walk listed)
// with a gradient peak.
bool first_edge_along(const EdgeSearch& es, cv::Point at, cv::Point2f frac, float dx, float dy,
                      std::vector<cv::Point>& walk, ImageEdge& out) {
    const int n = es.walk_cells;
    rasterize_segment(n, walk, frac.x, frac.y, dx, dy);
    const std::size_t cells = std::min(walk.size(), static_cast<std::size_t>(std::max(n, 0)));
    for (std::size_t k = 1; k < cells; ++k)
        if (get_subpix_pos_mat(*es.img, at.x + walk[k].x, at.y + walk[k].y, es.threshold, &out.x))
            return true;
    return false;
}

// The image edge of one posed point at (X, Y) with direction (gx, gy): the gradient peak at its
// pixel when it agrees, else the better agreeing of the first peaks found forward and backward
// along the direction (none when neither agrees enough or both agree equally).
bool edge_of_point(const EdgeSearch& es, float X, float Y, float gx, float gy,
                   std::vector<cv::Point>& walk, ImageEdge& out) {
    if (!std::isfinite(X) || !std::isfinite(Y)) return false;
    const float polarity = es.polarity;
    const cv::Point at(round_posed(X), round_posed(Y));
    ImageEdge r0;
    if (get_subpix_pos_mat(*es.img, at.x, at.y, es.threshold, &r0.x) &&
        agreement(r0, gx, gy, polarity) > kMinAgreement) {
        out = r0;
        return true;
    }
    const cv::Point2f frac(X - static_cast<float>(at.x), Y - static_cast<float>(at.y));
    ImageEdge r1, r2;
    float a1 = 0.f, a2 = 0.f;
    if (first_edge_along(es, at, frac, gx, gy, walk, r1)) a1 = agreement(r1, gx, gy, polarity);
    if (first_edge_along(es, at, frac, -gx, -gy, walk, r2)) a2 = agreement(r2, gx, gy, polarity);
    if (a1 > kMinAgreement && a1 > a2) {
        out = r1;
        return true;
    }
    if (a2 > kMinAgreement && a2 > a1) {
        out = r2;
        return true;
    }
    return false;
}

// Per-iteration buffers of one candidate, reused across its iterations.
struct Workspace {
    ModelPointSet<Feature> posed;
    std::vector<ImageEdge> edges;      // per model point
    std::vector<unsigned char> found;  // per model point: 1 when edges[i] holds its edge
    std::vector<float> distance;       // per model point, 0 without an edge
    std::vector<std::size_t> kept;     // points with an edge, in point order
    std::vector<float> kept_distance;
    std::vector<float> weights;
};

// For each model point: its image edge and its signed distance to it along the edge normal.
void edge_correspondences(const EdgeSearch& es, const std::vector<Feature>& pts, float xc, float yc,
                          bool serial, Workspace& ws) {
    const std::size_t n = pts.size();
    ws.edges.assign(n, ImageEdge{});
    ws.found.assign(n, 0);
    ws.distance.assign(n, 0.f);
    parallel_for_ranges(n, point_cut(serial), [&](std::size_t begin, std::size_t end) {
        std::vector<cv::Point> walk;
        for (std::size_t i = begin; i < end; ++i) {
            const Feature& p = pts[i];
            const float X = xc + p.x;
            const float Y = yc + p.y;
            ImageEdge e;
            if (!edge_of_point(es, X, Y, p.gx, p.gy, walk, e)) continue;
            ws.edges[i] = e;
            ws.found[i] = 1;
            ws.distance[i] = (Y - e.y) * e.ny + (X - e.x) * e.nx;
        }
    });
}

// The scale unknowns of a step: 0, 1 (uniform) or 2 (row, column).
int scale_unknowns(const PoseSource& src) {
    if (!src.refine_scales) return 0;
    return src.scales == PoseSource::Scales::kRowAndColumn ? 2 : 1;
}

// One equation per kept point: unknowns (row change, column change, rotation in radians, then
// the scale changes of scale_unknowns(src)); `centre` is the candidate's exact centre.
void pose_equation_rows(const std::vector<Feature>& pts, const Workspace& ws, cv::Point2f centre,
                        const Match& cand, const PoseSource& src, bool serial, cv::Mat& rows,
                        cv::Mat& rhs) {
    const float xc = centre.x, yc = centre.y;
    const std::size_t n = ws.kept.size();
    const int scales = scale_unknowns(src);
    rows = cv::Mat::zeros(static_cast<int>(n), 3 + scales, CV_32F);
    rhs = cv::Mat::zeros(static_cast<int>(n), 1, CV_32F);
    parallel_for_ranges(n, point_cut(serial), [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) {
            const std::size_t i = ws.kept[k];
            const float px = pts[i].x;
            const float py = pts[i].y;
            const ImageEdge& q = ws.edges[i];
            float* row = rows.ptr<float>(static_cast<int>(k));
            row[0] = q.ny;
            row[1] = q.nx;
            row[2] = q.nx * py - q.ny * px;
            if (scales > 0) scale_change_columns(cand, scales, px, py, q.nx, q.ny, row + 3);
            rhs.at<float>(static_cast<int>(k)) = -((px + xc - q.x) * q.nx + (py + yc - q.y) * q.ny);
        }
    });
}

void pose_points(const ShapeModelRecord& rec, const Match& cand, int model_level, int step,
                 const PoseSource& src, ModelPointSet<Feature>& out) {
    if (src.scales == PoseSource::Scales::kRowAndColumn)
        rotated_template_aniso(rec, cand.angle, model_level, cand.scale_row, cand.scale_col, step,
                               out);
    else
        rotated_template(rec, cand.angle, model_level, cand.scale_row, step, out);
    if (src.move_points) src.move_points(cand, out.points);
}

// Largest scale change of one step: the scale refinement leaves the scales at most about half a
// step of the last level's scale lattice off (0.035 for a model 60 pixels across).
constexpr float kMaxScaleStep = 0.05f;

// Adds a step's scale changes, each scale kept inside its record range.
void apply_scale_step(const ShapeModelRecord& rec, const PoseSource& src, const float* d,
                      Match& cand) {
    const auto within = [](float v, float lo, float hi) {
        return lo <= hi ? std::clamp(v, lo, hi) : v;
    };
    if (src.scales == PoseSource::Scales::kRowAndColumn) {
        cand.scale_row = within(cand.scale_row + d[0], rec.scale_row_min, rec.scale_row_max);
        cand.scale_col = within(cand.scale_col + d[1], rec.scale_col_min, rec.scale_col_max);
    } else {
        cand.scale_row = within(cand.scale_row + d[0], rec.scale_min, rec.scale_max);
        cand.scale_col = cand.scale_row;
    }
}

// Keeps the points with an edge and weighs them; returns how many weigh above 1e-5.
int weigh_correspondences(int cell_value, Workspace& ws) {
    ws.kept.clear();
    ws.kept_distance.clear();
    for (std::size_t i = 0; i < ws.found.size(); ++i) {
        if (!ws.found[i]) continue;
        ws.kept.push_back(i);
        ws.kept_distance.push_back(ws.distance[i]);
    }
    return least_squares_weights(ws.kept_distance, cell_value, ws.weights);
}

// Weighted correspondences a candidate needs: max(10, (int)(points * score / 2)).
int required_support(std::size_t points, float score) {
    double v = static_cast<double>(points) * static_cast<double>(score) * 0.5;
    if (!(v >= 0.0)) v = 0.0;  // also NaN
    v = std::min(v, 1e9);
    return std::max(10, static_cast<int>(v));
}

void refine_one(Match& cand, const LeastSquaresLevel& lvl, const LeastSquaresRun& run,
                const ShapeModelRecord& rec, const PoseSource& src, bool serial,
                LeastSquaresTrace& trace) {
    const int model_level = lvl.level + 1;
    const int step = least_squares_point_step(run, lvl.levels_used, lvl.level);
    // Under metric 0 every point may see either contrast (the search scored it so); otherwise the
    // match's polarity decides.
    const EdgeSearch es{
        .img = lvl.image,
        .threshold = static_cast<float>(lvl.min_contrast),
        .polarity = rec.metric == 0 ? 0.f : static_cast<float>(static_cast<signed char>(cand.flag)),
        .walk_cells = std::max(lvl.cell_value + 2, 5)};
    // The level's own search leaves the angle up to about one angle step off; a correction that
    // large must not be refused (the fixed bound alone is narrower for small models).
    const float angle_bound = angle_step(rec, model_level);

    Workspace ws;
    cv::Mat rows, rhs;
    trace.steps.reserve(static_cast<std::size_t>(std::max(run.iterations, 0)));
    trace.end = LeastSquaresEnd::kIterationsDone;
    for (int it = 0; it < run.iterations; ++it) {
        const float xc = static_cast<float>(cand.x) + cand.dx;
        const float yc = static_cast<float>(cand.y) + cand.dy;
        pose_points(rec, cand, model_level, step, src, ws.posed);
        const std::vector<Feature>& pts = ws.posed.points;
        edge_correspondences(es, pts, xc, yc, serial, ws);
        const int weighted = weigh_correspondences(lvl.cell_value, ws);
        trace.sampled_points = static_cast<int>(pts.size());
        trace.correspondences = static_cast<int>(ws.kept.size());
        trace.weighted_points = weighted;
        if (weighted < required_support(pts.size(), cand.score)) {
            trace.end = LeastSquaresEnd::kTooFewPoints;
            return;
        }
        pose_equation_rows(pts, ws, {xc, yc}, cand, src, serial, rows, rhs);
        // The first unknown multiplies the normal's row component: it is the row change.
        float d_row = 0.f, d_col = 0.f, d_angle = 0.f;
        float step_scales[5] = {};
        const bool solved =
            scale_unknowns(src) == 0
                ? pose_least_squares_step(rows, rhs, ws.weights, lvl.cell_value, d_row, d_col,
                                          d_angle, angle_bound)
                : pose_scale_least_squares_step(rows, rhs, ws.weights, lvl.cell_value,
                                                angle_bound, kMaxScaleStep, step_scales);
        if (!solved) {
            trace.end = LeastSquaresEnd::kSolveFailed;
            return;
        }
        if (scale_unknowns(src) > 0) {
            d_row = step_scales[0];
            d_col = step_scales[1];
            d_angle = step_scales[2];
            apply_scale_step(rec, src, step_scales + 3, cand);
        }
        cand.dy += d_row;
        cand.dx += d_col;
        cand.angle += d_angle;
        trace.steps.push_back(LeastSquaresStep{d_row, d_col, d_angle});
        if (std::sqrt(d_row * d_row + d_col * d_col) < run.convergence &&
            std::abs(d_angle) < run.convergence) {
            trace.end = LeastSquaresEnd::kConverged;
            return;
        }
    }
}

}  // namespace

int least_squares_weights(const std::vector<float>& distances, int cell_value,
                          std::vector<float>& weights) {
    weights.assign(distances.size(), 1.f);
    if (cell_value >= 1) return static_cast<int>(distances.size());
    const auto [median, mad] = median_mad(distances);
    const float t = std::max(0.05f, 1.4826f * mad) * 4.685f;
    int weighted = 0;
    for (std::size_t k = 0; k < distances.size(); ++k) {
        const float r = distances[k] - median;
        const float u = r / t;
        float w = std::abs(r) <= t ? 1.f - u * u : 0.f;  // also 0 for NaN
        w *= w;
        weights[k] = w;
        if (w > 1e-5f) ++weighted;
    }
    return weighted;
}

const LeastSquaresRun* least_squares_run(int mode) {
    for (const LeastSquaresRun& run : kLeastSquaresRuns)
        if (run.mode == mode) return &run;
    return nullptr;
}

int least_squares_point_step(const LeastSquaresRun& run, int levels_used, int level) {
    return levels_used > run.step_min_levels ? run.step_factor * (levels_used - level) : 0;
}

LeastSquaresTrace refine_match_least_squares(Match& cand, const LeastSquaresLevel& lvl,
                                             const LeastSquaresRun& run,
                                             const ShapeModelRecord& rec, const PoseSource& src,
                                             bool serial) {
    LeastSquaresTrace trace;
    const cv::Mat* img = lvl.image;
    if (img == nullptr || img->empty() || img->type() != CV_8UC1 || img->dims != 2 ||
        !rec.has_level(lvl.level + 1))
        return trace;  // kError, pose untouched
    try {
        refine_one(cand, lvl, run, rec, src, serial, trace);
    } catch (...) {
        // The pose changes only after a completed step, so it stays as the last step left it.
        trace.end = LeastSquaresEnd::kError;
    }
    return trace;
}

bool refine_matches_least_squares(std::vector<Match>& cands, const LeastSquaresLevel& lvl, int mode,
                                  const ShapeModelRecord& rec, const PoseSource& src,
                                  std::vector<LeastSquaresTrace>* traces, const TimeLimit& limit) {
    if (traces) traces->clear();
    const LeastSquaresRun* run = least_squares_run(mode);
    if (run == nullptr) return true;
    if (traces) {
        try {
            traces->resize(cands.size());
        } catch (...) {
            traces = nullptr;  // refine without tracing rather than fail
        }
    }
    for (std::size_t i = 0; i < cands.size(); ++i) {
        if (limit.passed()) return false;
        LeastSquaresTrace t = refine_match_least_squares(cands[i], lvl, *run, rec, src);
        if (traces) (*traces)[i] = std::move(t);
    }
    return true;
}

}  // namespace quro
