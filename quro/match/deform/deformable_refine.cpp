#include "quro/match/deform/deformable_refine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quro/edges/quadratic_peak.h"
#include "quro/match/templates.h"
#include "quro/model_pose.h"
#include "quro/numeric.h"
#include "quro/parallel.h"
#include "quro/match/angle_scale_lists.h"
#include "quro/match/subpixel/pose_step.h"
#include "quro/match/deform/dense_field.h"
#include "quro/match/deform/dense_field_folds.h"
#include "quro/match/deform/dense_field_spline.h"
#include "quro/match/subpixel/least_squares_refine.h"

namespace quro {
namespace {

// A point's move is accepted only above this window value.
constexpr float kMinMoveValue = 0.5f;
// The second-best ring must stay below this fraction of the best for the best to count as a peak.
constexpr float kRingSeparation = 0.85f;
// Ridge test of the window's Hessian: a smaller eigenvalue this close to 0, or a ratio of the two
// above kRidgeRatio, means the peak is a line and only the move across it is known.
constexpr float kFlatCurvature = 0.001f;
constexpr float kRidgeRatio = 9.f;
// The fold check of the field: smallest Jacobian determinant and largest deviation from identity.
constexpr float kFoldMinDeterminant = 0.05f;
constexpr float kFoldMaxDeviation = 0.8f;
// The field's spline fit (dense_field_spline.h), against point weights of at most 1. A membrane
// in its place sagged between edges that bend alike and stayed flat beyond the last points (bend
// 3 px at 100 px: field error 1.15 px; the spline without a size penalty 0.61 px, with it 0.92
// px). The size penalty keeps undeformed parts still: without it their fields moved 0.094 px and
// their positions, once the fields were centred (centre_field), were 0.063 px off (0.053 px and
// 0.013 px with it).
constexpr SplineFit kFieldFit{6, 0.03, 0.02};
// A field that raises the score by more than this gives its mean shift to the pose
// (centre_field); below it the shift is noise (small round textured models in noise: positions
// 0.11 px RMS off when every field gave its shift, 0.07 px with this bound).
constexpr float kCentreMinGain = 0.01f;
// The score a kept field costs per squared pixel of mean displacement at the candidate's points
// (full-resolution pixels). Points that may each move by a few pixels find agreement in noise too:
// without the cost, noise on the noisy coin set scored up to 0.48 for the deformable search where
// the rigid and anisotropic searches scored at most 0.41 (0.43 with it), and with levels {0, 4}
// the one deformable level turned parts of clutter scoring 0.34-0.57 rigidly into matches scoring
// 0.56-0.86 (fields moving points by 2 pixels of that level, 16 of full resolution). A part bent
// by 3 pixels pays about 0.07.
constexpr float kFieldEnergyCost = 0.03f;
// The field rectangle reaches this far beyond the posed extent of the model's points.
constexpr int kFieldMargin = 4;
// Largest change of a scale by one pose fit of a pass.
constexpr float kMaxPoseScaleStep = 0.05f;
// The smallest window radius.
constexpr int kMinWindowRadius = 4;

constexpr float kNoValue = -std::numeric_limits<float>::infinity();

enum MoveKind : int { kNoMove = -1, kWholeOffset = 0, kAcrossRidge = 1, kSubpixelPeak = 2 };

struct PointMove {
    cv::Point2f offset{0.f, 0.f};
    float value = 0.f;
    int kind = kNoMove;
};

// The points of a candidate are measured in runs of this many: a search holds few candidates, so
// each one's window measures spread over the threads too.
constexpr RangeCut kPointCut{64, 32};

// A square window of (2r + 1)^2 values around offset (0, 0), row after row, with its offsets in
// ring order (ring_points of 0 .. r) and a profile's scratch, both kept for the window's reuse.
struct Window {
    int r = 0;
    std::vector<float> v;
    std::vector<cv::Point> rings;
    std::vector<float> prof;
    void set_radius(int radius) {
        r = radius;
        rings.clear();
        for (int j = 0; j <= r; ++j) {
            const std::vector<cv::Point> ring = ring_points(j);
            rings.insert(rings.end(), ring.begin(), ring.end());
        }
    }
    int side() const { return 2 * r + 1; }
    bool inside(cv::Point p) const { return std::abs(p.x) <= r && std::abs(p.y) <= r; }
    float at(cv::Point p) const {
        return v[static_cast<std::size_t>((p.y + r) * side() + (p.x + r))];
    }
};

struct RingBest {
    float value = kNoValue;
    cv::Point at{0, 0};
};

// The nine values around p (inside the window: p lies at most r - 1 from the centre).
void values_3x3(const Window& w, cv::Point p, float m[9]) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) m[(dy + 1) * 3 + dx + 1] = w.at({p.x + dx, p.y + dy});
}

// The window's bilinear value at the offset (x, y) (inside the window).
float window_at(const Window& w, float x, float y) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
    const int x1 = std::min(x0 + 1, w.r), y1 = std::min(y0 + 1, w.r);
    const float ax = x - fx, ay = y - fy;
    return (1.f - ay) * ((1.f - ax) * w.at({x0, y0}) + ax * w.at({x1, y0})) +
           ay * ((1.f - ax) * w.at({x0, y1}) + ax * w.at({x1, y1}));
}

// How a point moves by its window. Its best offset (the largest value, the one nearest the
// centre among equals) must exceed kMinMoveValue. When it lies inside the window and the quadric
// through the 3 by 3 values around it is a peak that is not a ridge, the point moves by that
// offset and the quadric's Newton step (a sub-pixel move in both directions). Otherwise only the
// move across the edge is known (along a straight edge the neighbours slide with the point): the
// profile of the window along the model normal (bilinear, whole steps t = -R .. R) gives its
// largest value, refined by a parabola through its two neighbours, and the point moves by that
// many pixels along the normal.
PointMove analyse_window(Window& w, int R, cv::Point2f normal) {
    RingBest best;
    for (const cv::Point& q : w.rings) {
        const float v = w.at(q);
        if (v > best.value) best = {v, q};
    }
    if (!(best.value > kMinMoveValue)) return PointMove{};
    PointMove m;
    if (std::abs(best.at.x) < w.r && std::abs(best.at.y) < w.r) {
        float vals[9], k[6];
        values_3x3(w, best.at, vals);
        quadric_coeffs_3x3(vals, k);
        Eigen2 e;
        eigen_sym2x2_array(k, e);
        QuadraticPeak q;
        if (e.l1 < 0.f && e.l2 < 0.f && std::fabs(e.l2) >= kFlatCurvature &&
            e.l1 / e.l2 <= kRidgeRatio && fit_quadratic_peak(vals, q)) {
            m.offset = cv::Point2f(static_cast<float>(best.at.x) + q.ox,
                                   static_cast<float>(best.at.y) + q.oy);
            m.value = best.value;
            m.kind = kSubpixelPeak;
            return m;
        }
    }
    const float reach = static_cast<float>(std::min(R, w.r)) /
                        std::max(std::fabs(normal.x), std::fabs(normal.y));
    const int steps = static_cast<int>(std::floor(reach + 1e-4f));
    if (steps < 1) return PointMove{};
    std::vector<float>& prof = w.prof;
    prof.assign(static_cast<std::size_t>(2 * steps + 1), 0.f);
    int top = 0;
    for (int t = -steps; t <= steps; ++t) {
        const float v = window_at(w, t * normal.x, t * normal.y);
        prof[static_cast<std::size_t>(t + steps)] = v;
        const float cur = prof[static_cast<std::size_t>(top + steps)];
        if (v > cur || (v == cur && std::abs(t) < std::abs(top))) top = t;
    }
    const float vt = prof[static_cast<std::size_t>(top + steps)];
    if (!(vt > kMinMoveValue)) return PointMove{};
    float t = static_cast<float>(top);
    if (std::abs(top) < steps) {
        const float a = prof[static_cast<std::size_t>(top + steps - 1)];
        const float c = prof[static_cast<std::size_t>(top + steps + 1)];
        const float den = a - 2.f * vt + c;
        if (den < 0.f) t += std::clamp(0.5f * (a - c) / den, -0.5f, 0.5f);
    }
    m.offset = t * normal;
    m.value = vt;
    m.kind = std::abs(top) == steps ? kWholeOffset : kAcrossRidge;
    return m;
}

// The level's normal at image pixel (x, y), or 0 outside the maps.
struct NormalLookup {
    const cv::Mat& nx;
    const cv::Mat& ny;
    int border;
    float dot(int x, int y, float gx, float gy, bool absolute) const {
        const int c = x + border, r = y + border;
        if (c < 0 || r < 0 || c >= nx.cols || r >= nx.rows) return 0.f;
        const float d = nx.ptr<float>(r)[c] * gx + ny.ptr<float>(r)[c] * gy;
        return absolute ? std::fabs(d) : d;
    }
};

cv::Point2f unit(float x, float y) {
    const float n = std::sqrt(x * x + y * y);
    return n > 0.f ? cv::Point2f(x / n, y / n) : cv::Point2f(0.f, 0.f);
}

// The candidate's posed points at the stage's step (about its exact centre), the field
// rectangle's size and where the candidate's whole-pixel centre lies in it.
struct PosedPoints {
    NormalTemplate tpl;
    std::vector<float> xf, yf;
    cv::Point origin{0, 0};
    cv::Size size{1, 1};
};

// The rectangle holds every point of the model level posed at the candidate, kFieldMargin pixels
// beyond them on each side: the field covers the part, not the image the model came from.
void pose_candidate(const DeformLevel& lvl, const Match& cand, PosedPoints& p) {
    const ShapeModelRecord& rec = *lvl.rec;
    const int model_level = lvl.level + 1;
    normal_template_sampled(rec, p.tpl, model_level, cand.scale_row, cand.scale_col, &p.xf, &p.yf,
                            kDeformPointStep[lvl.stage], cand.angle);
    const PoseRotation r = pose_rotation(cand.angle);
    float lo_x = 0.f, lo_y = 0.f, hi_x = 0.f, hi_y = 0.f;
    for (const Feature& f : rec.level(model_level).features) {
        const PoseVec q = pose_position(r, f.x, f.y, cand.scale_row, cand.scale_col);
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
        lo_x = std::min(lo_x, q.x);
        hi_x = std::max(hi_x, q.x);
        lo_y = std::min(lo_y, q.y);
        hi_y = std::max(hi_y, q.y);
    }
    // Point coordinates are bounded by the validated model; clamp anyway before converting.
    auto cells = [](float v) { return static_cast<int>(std::ceil(std::min(v, 1e6f))); };
    p.origin = {cells(-lo_x) + kFieldMargin, cells(-lo_y) + kFieldMargin};
    p.size = {p.origin.x + cells(hi_x) + kFieldMargin + 1,
              p.origin.y + cells(hi_y) + kFieldMargin + 1};
}

// Point i's position in the field rectangle: its posed offset from the exact centre (cx + fx,
// cy + fy), whose whole-pixel part lies at the rectangle's origin.
cv::Point2f source(const PosedPoints& p, std::size_t i, float fx, float fy) {
    return {static_cast<float>(p.origin.x) + fx + p.xf[i],
            static_cast<float>(p.origin.y) + fy + p.yf[i]};
}

// Each point's starting displacement: the deformation of the level above's field where that level
// held the same model point, doubled; none without such a field. A point posed at q about this
// level's exact centre lay at (q + shift) / 2 about the level above's, `shift` being the posed
// level_centre_shift between the two levels (the centre here less twice the centre there).
void seed_from_upper(const DeformField& upper, const PosedPoints& p, PoseVec shift,
                     std::vector<cv::Point2f>& d) {
    d.assign(p.xf.size(), cv::Point2f(0.f, 0.f));
    if (upper.empty()) return;
    for (std::size_t i = 0; i < d.size(); ++i) {
        float dx, dy;
        field_displacement(upper, upper.centre.x + 0.5f * (p.xf[i] + shift.x),
                           upper.centre.y + 0.5f * (p.yf[i] + shift.y), dx, dy);
        d[i] = cv::Point2f(2.f * dx, 2.f * dy);
    }
}

// One weighted solve of fit_pose_change: with the two scale changes, or, when that finds no step
// within bounds (a scale poorly held by the few points of a coarse level), the shifts and the
// angle alone with the scales kept.
bool pose_change_step(const DeformLevel& lvl, const cv::Mat& rows, const cv::Mat& rhs,
                      const std::vector<float>& weights, float x[5]) {
    // A pass may move its points by a whole window: the step's bounds (the tolerance's pixels plus
    // 2.5) must let the pose follow that far, or the field keeps the offset.
    const int reach = kDeformWindowBase[lvl.stage];
    const float angle_bound = angle_step(*lvl.rec, lvl.level + 1);
    if (pose_scale_least_squares_step(rows, rhs, weights, reach, angle_bound, kMaxPoseScaleStep,
                                      x))
        return true;
    float dx = 0.f, dy = 0.f, da = 0.f;
    if (!pose_least_squares_step(rows.colRange(0, 3).clone(), rhs, weights, reach, dx, dy, da,
                                 angle_bound))
        return false;
    x[0] = dx;
    x[1] = dy;
    x[2] = da;
    x[3] = x[4] = 0.f;
    return true;
}

// The pose part of the points' displacements (about the candidate's whole-pixel centre): the
// weighted least-squares change of row, column, angle (degrees) and row and column scales that
// best explains every weighted point's displacement along its model normal. A second solve weighs
// the points again by Tukey's biweight of the first one's residuals, so that points caught by a
// wrong edge do not pull the pose; when it finds no step the first one's stands. Returns false
// when no step within bounds was found.
bool fit_pose_change(const DeformLevel& lvl, const Match& cand, const PosedPoints& p,
                     const std::vector<cv::Point2f>& d, const std::vector<float>& weights,
                     float x[5]) {
    const auto n = static_cast<int>(p.xf.size());
    cv::Mat rows = cv::Mat::zeros(n, 5, CV_32F), rhs(n, 1, CV_32F);
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const cv::Point2f g = unit(p.tpl.nxs[k], p.tpl.nys[k]);
        float* row = rows.ptr<float>(i);
        row[0] = g.y;
        row[1] = g.x;
        row[2] = g.x * p.yf[k] - g.y * p.xf[k];
        scale_change_columns(cand, 2, p.xf[k], p.yf[k], g.x, g.y, row + 3);
        rhs.at<float>(i) = g.dot(d[k]);
    }
    if (!pose_change_step(lvl, rows, rhs, weights, x)) return false;
    std::vector<float> residual(p.xf.size()), robust;
    const cv::Mat sol = (cv::Mat_<float>(5, 1) << x[0], x[1],
                         x[2] * static_cast<float>(kPi / 180.0), x[3], x[4]);
    const cv::Mat r = rhs - rows * sol;
    for (int i = 0; i < n; ++i) residual[static_cast<std::size_t>(i)] = r.at<float>(i);
    least_squares_weights(residual, 0, robust);
    for (std::size_t i = 0; i < robust.size(); ++i) robust[i] *= weights[i];
    float y[5];
    if (pose_change_step(lvl, rows, rhs, robust, y)) std::copy(y, y + 5, x);
    return true;
}

// Moves the candidate by the pose change x of fit_pose_change and poses its points again: each
// point keeps the image position it was found at (its displacement is taken against the new
// pose); the whole-pixel centre is the new centre rounded and the rest goes to dx, dy. A pose
// whose sampling gives another point count is not taken.
void apply_pose_change(const DeformLevel& lvl, const float x[5], Match& cand, PosedPoints& p,
                       std::vector<cv::Point2f>& d) {
    const ShapeModelRecord& rec = *lvl.rec;
    Match moved = cand;
    moved.angle += x[2];
    moved.scale_row = std::clamp(moved.scale_row + x[3], rec.scale_row_min, rec.scale_row_max);
    moved.scale_col = std::clamp(moved.scale_col + x[4], rec.scale_col_min, rec.scale_col_max);
    PosedPoints q;
    pose_candidate(lvl, moved, q);
    if (q.xf.size() != p.xf.size()) return;
    for (std::size_t i = 0; i < d.size(); ++i)
        d[i] += cv::Point2f(p.xf[i] - q.xf[i] - x[1], p.yf[i] - q.yf[i] - x[0]);
    const float fx = static_cast<float>(cand.x) + cand.dx + x[1];
    const float fy = static_cast<float>(cand.y) + cand.dy + x[0];
    cand = moved;
    cand.x = round_half_away(fx);
    cand.y = round_half_away(fy);
    cand.dx = fx - static_cast<float>(cand.x);
    cand.dy = fy - static_cast<float>(cand.y);
    p = std::move(q);
}

// Every point's own window of agreements: for point j and each offset of the window of radius r
// (row after row), the dot product of the image normal at j's predicted position plus the offset
// with j's model normal (absolute for metric 0). A point's window (point_window) is the mean of
// its neighbours' own windows, so each is measured once per pass, not once per neighbour.
void point_responses(const DeformLevel& lvl, const NormalLookup& maps, const PosedPoints& p,
                     const std::vector<cv::Point2f>& d, const Match& cand, int r,
                     std::vector<float>& out) {
    const int side = 2 * r + 1;
    const auto area = static_cast<std::size_t>(side * side);
    out.resize(d.size() * area);
    const bool absolute = lvl.metric == 0;
    parallel_for_ranges(d.size(), kPointCut, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            const int bx = cand.x + round_posed(cand.dx + p.xf[j] + d[j].x);
            const int by = cand.y + round_posed(cand.dy + p.yf[j] + d[j].y);
            const float gx = p.tpl.nxs[j], gy = p.tpl.nys[j];
            float* o = out.data() + j * area;
            for (int oy = -r; oy <= r; ++oy)
                for (int ox = -r; ox <= r; ++ox)
                    *o++ = maps.dot(bx + ox, by + oy, gx, gy, absolute);
        }
    });
}

// The window of point i: for each offset, the mean over its neighbours of their normal agreement
// at their predicted positions moved by the offset (their point_responses); negated for reversed
// contrast.
void point_window(const std::vector<float>& responses, const int* nb, int kk, float sign,
                  Window& w) {
    const auto area = static_cast<std::size_t>(w.side() * w.side());
    w.v.assign(area, 0.f);
    for (int n = 0; n < kk; ++n) {
        const float* rj = responses.data() + static_cast<std::size_t>(nb[n]) * area;
        for (std::size_t o = 0; o < area; ++o) w.v[o] += rj[o];
    }
    const float scale = sign / static_cast<float>(std::max(kk, 1));
    for (float& v : w.v) v *= scale;
}

// The field of the rectangle from the points' displacements: each point fixes the component across
// its edge (along its model normal) with its weight; along the edges the spline carries on what
// the points around say. Points where the field folds lose their weight and the field is solved
// once more without them.
void solve_field(const Match& cand, const PosedPoints& p, const std::vector<cv::Point2f>& d,
                 std::vector<float>& weights, DeformField& field) {
    std::vector<cv::Point2f> src(d.size()), normals(d.size());
    for (std::size_t i = 0; i < d.size(); ++i) {
        src[i] = source(p, i, cand.dx, cand.dy);
        normals[i] = unit(p.tpl.nxs[i], p.tpl.nys[i]);
    }
    const cv::Size size = p.size;
    const SplinePoints pts{src, d, normals, weights};
    dense_field_maps_spline(size, pts, kFieldFit, field.map_x, field.map_y);
    if (rejectFoldingPoints(field.map_x, field.map_y, src, weights, kFoldMinDeterminant,
                            kFoldMaxDeviation) > 0)
        dense_field_maps_spline(size, pts, kFieldFit, field.map_x, field.map_y);
    field.centre = cv::Point2f(static_cast<float>(p.origin.x) + cand.dx,
                               static_cast<float>(p.origin.y) + cand.dy);
}

// The field of no deformation over the candidate's rectangle: each map holds its own position.
void identity_field(const Match& cand, const PosedPoints& p, DeformField& field) {
    field.rect = cv::Rect(cand.x - p.origin.x, cand.y - p.origin.y, p.size.width, p.size.height);
    field.map_x.create(p.size, CV_32FC1);
    field.map_y.create(p.size, CV_32FC1);
    for (int r = 0; r < p.size.height; ++r) {
        float* mx = field.map_x.ptr<float>(r);
        float* my = field.map_y.ptr<float>(r);
        for (int c = 0; c < p.size.width; ++c) {
            mx[c] = static_cast<float>(c);
            my[c] = static_cast<float>(r);
        }
    }
    field.centre = cv::Point2f(static_cast<float>(p.origin.x) + cand.dx,
                               static_cast<float>(p.origin.y) + cand.dy);
}

// Moves the field's mean displacement over its rectangle into the candidate's exact position, so
// that the field holds no shift on average: the moves of a part bent about its middle share none,
// while the pose fits leave one wherever the part's edges lie unevenly about it (bent parts: the
// reference point 0.44 px RMS off with the shift in the field, 0.16 px without).
void centre_field(Match& cand, DeformField& field) {
    double sx = 0.0, sy = 0.0;
    for (int r = 0; r < field.map_x.rows; ++r) {
        const float* mx = field.map_x.ptr<float>(r);
        const float* my = field.map_y.ptr<float>(r);
        for (int c = 0; c < field.map_x.cols; ++c) {
            sx += mx[c] - static_cast<float>(c);
            sy += my[c] - static_cast<float>(r);
        }
    }
    const double n = static_cast<double>(field.map_x.total());
    if (n < 1.0) return;
    const auto tx = static_cast<float>(sx / n), ty = static_cast<float>(sy / n);
    field.map_x -= tx;
    field.map_y -= ty;
    cand.dx += tx;
    cand.dy += ty;
    field.centre += cv::Point2f(tx, ty);
}

// The candidate's score with its field: the mean over its points of the agreement of the image
// normal at the point moved by the field (rounded) with its model normal, absolute for metric 0
// and negated for reversed contrast; the measure of the rigid search at the deformed points.
float field_score(const DeformLevel& lvl, const NormalLookup& maps, const PosedPoints& p,
                  const Match& cand, const DeformField& field, float sign) {
    if (p.xf.empty()) return 0.f;
    const bool absolute = lvl.metric == 0;
    double sum = 0.0;
    for (std::size_t i = 0; i < p.xf.size(); ++i) {
        const cv::Point2f s = source(p, i, cand.dx, cand.dy);
        float dx, dy;
        field_displacement(field, s.x, s.y, dx, dy);
        const int x = cand.x + round_posed(cand.dx + p.xf[i] + dx);
        const int y = cand.y + round_posed(cand.dy + p.yf[i] + dy);
        const cv::Point2f n = unit(p.tpl.nxs[i], p.tpl.nys[i]);
        sum += sign * maps.dot(x, y, n.x, n.y, absolute);
    }
    return static_cast<float>(sum / static_cast<double>(p.xf.size()));
}

// The field's energy at the candidate's points: the mean over them of the squared displacement
// the field gives each (pixels of the level).
float field_energy(const PosedPoints& p, const Match& cand, const DeformField& field) {
    if (p.xf.empty()) return 0.f;
    double sum = 0.0;
    for (std::size_t i = 0; i < p.xf.size(); ++i) {
        const cv::Point2f s = source(p, i, cand.dx, cand.dy);
        float dx, dy;
        field_displacement(field, s.x, s.y, dx, dy);
        sum += static_cast<double>(dx) * dx + static_cast<double>(dy) * dy;
    }
    return static_cast<float>(sum / static_cast<double>(p.xf.size()));
}

}  // namespace


int deform_stage(int s) { return std::clamp(s, 0, kDeformStages - 1); }

int deform_neighbour_count(int boundary) { return std::max(6, 6 * (boundary - 1)); }

std::vector<cv::Point> ring_points(int j) {
    std::vector<cv::Point> pts;
    if (j < 0) return pts;
    if (j == 0) return {cv::Point(0, 0)};
    pts.reserve(static_cast<std::size_t>(8 * j));
    for (int x = -j; x < j; ++x) pts.emplace_back(x, -j);
    for (int y = -j; y < j; ++y) pts.emplace_back(j, y);
    for (int x = j; x > -j; --x) pts.emplace_back(x, j);
    for (int y = j; y > -j; --y) pts.emplace_back(-j, y);
    return pts;
}

void field_displacement(const DeformField& f, float x, float y, float& dx, float& dy) {
    dx = dy = 0.f;
    if (f.empty()) return;
    float mx, my;
    if (!sampleFieldBilinear(f.map_x.ptr<float>(), f.map_y.ptr<float>(), x, y,
                             static_cast<int>(f.map_x.step1()), f.map_x.cols, f.map_x.rows, mx,
                             my))
        return;
    dx = mx - x;
    dy = my - y;
}

void refine_deformable(const DeformLevel& lvl, Match& cand, DeformField& field) {
    if (lvl.deadline.passed() || !(cand.score >= lvl.min_score)) return;
    PosedPoints p;
    pose_candidate(lvl, cand, p);
    const std::size_t count = p.xf.size();
    const std::vector<int>& nbs = *lvl.neighbours;
    const int k = lvl.neighbour_count;
    const int kk = std::min<int>(k, static_cast<int>(count));
    if (count == 0 || kk < 1 || nbs.size() < count * static_cast<std::size_t>(k)) {
        cand.score = 0.f;
        return;
    }
    std::vector<cv::Point2f> d;
    seed_from_upper(field, p,
                    posed_centre_shift(*lvl.rec, cand, lvl.level + 1, lvl.level, true), d);
    field = DeformField{};

    const NormalLookup maps{*lvl.nx, *lvl.ny, lvl.border};
    const float sign = static_cast<signed char>(cand.flag) < 0 ? -1.f : 1.f;
    const Match start = cand;
    const float start_score = field_score(lvl, maps, p, cand, DeformField{}, sign);
    const int base = kDeformWindowBase[lvl.stage];
    const int passes = lvl.last ? 1 : 2;
    std::vector<float> conf(count, 0.f), weights(count, 0.f);
    std::vector<int> kind(count);
    std::vector<unsigned char> moved(count, 0);
    std::vector<float> responses;
    for (int pass = 0; pass < passes; ++pass) {
        if (pass > 0) {
            if (lvl.deadline.passed()) return;
            for (std::size_t i = 0; i < count; ++i) {
                const cv::Point2f s = source(p, i, cand.dx, cand.dy);
                field_displacement(field, s.x, s.y, d[i].x, d[i].y);
            }
        }
        const int r = std::max(kMinWindowRadius, base - pass);
        const int R = base - pass;
        std::vector<cv::Point2f> next = d;
        point_responses(lvl, maps, p, d, cand, r, responses);
        parallel_for_ranges(count, kPointCut, [&](std::size_t begin, std::size_t end) {
            Window w;
            w.set_radius(r);
            for (std::size_t i = begin; i < end; ++i) {
                point_window(responses, nbs.data() + i * static_cast<std::size_t>(k), kk, sign, w);
                const PointMove m = analyse_window(w, R, unit(p.tpl.nxs[i], p.tpl.nys[i]));
                kind[i] = m.kind;
                if (m.kind == kNoMove) continue;
                next[i] += m.offset;
                conf[i] += m.value;
                moved[i] = 1;
            }
        });
        d.swap(next);
        // A point moved by a whole offset or across a ridge against the sub-pixel move of one of
        // its four nearest neighbours is not trusted.
        for (std::size_t i = 0; i < count; ++i) {
            weights[i] = moved[i] ? conf[i] / static_cast<float>(pass + 1) : 0.f;
            if (kind[i] != kWholeOffset && kind[i] != kAcrossRidge) continue;
            const int* nb = nbs.data() + i * static_cast<std::size_t>(k);
            for (int n = 1; n <= std::min(4, kk - 1); ++n) {
                const auto j = static_cast<std::size_t>(nb[n]);
                if (kind[j] == kSubpixelPeak && d[j].dot(d[i]) < 0.f) weights[i] = 0.f;
            }
        }
        float x[5];
        if (fit_pose_change(lvl, cand, p, d, weights, x))
            apply_pose_change(lvl, x, cand, p, d);
        field.rect = cv::Rect(cand.x - p.origin.x, cand.y - p.origin.y, p.size.width,
                              p.size.height);
        solve_field(cand, p, d, weights, field);
    }
    const float deformed = field_score(lvl, maps, p, cand, field, sign);
    // The field must earn its place: where a rigid pose scores at least as high without it (the
    // one the fits moved to, or the one the refinement started from), the match keeps the better
    // of those poses and no deformation.
    const float rigid = field_score(lvl, maps, p, cand, DeformField{}, sign);
    if (rigid < deformed && start_score < deformed) {
        // A kept field pays for its energy in full-resolution pixels (a pixel of level k is 2^k
        // of them), though never below the rigid score at the pose.
        const float unit = static_cast<float>(1 << lvl.level);
        cand.score = std::max(rigid, deformed - kFieldEnergyCost * unit * unit *
                                                    field_energy(p, cand, field));
        if (deformed - std::max(rigid, start_score) > kCentreMinGain) centre_field(cand, field);
        return;
    }
    if (start_score > rigid) {
        cand = start;
        pose_candidate(lvl, cand, p);
    }
    cand.score = std::max(rigid, start_score);
    identity_field(cand, p, field);
}

}  // namespace quro
