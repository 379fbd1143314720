#include "quro/match/deformable_refine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quro/edges/quadratic_peak.h"
#include "quro/match/templates.h"
#include "quro/model_pose.h"
#include "quro/numeric.h"
#include "quro/match/angle_scale_lists.h"
#include "quro/match/subpixel/pose_step.h"
#include "quro/search/dense_field.h"
#include "quro/search/least_squares_refine.h"

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
// How firmly the field follows each point: a point's confidence times this. The field holds the
// affine part of the displacements exactly and interpolates only the rest; at 1 it followed each
// point's whole-pixel and ridge noise and missed the reference point by 0.59 px RMS on the bent
// part scenes of the benchmark, at 0.1 by 0.19 px (edge-normal error 0.46 -> 0.33 px).
constexpr double kFieldWeightScale = 0.1;
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

// A square window of (2r + 1)^2 values around offset (0, 0), row after row.
struct Window {
    int r = 0;
    std::vector<float> v;
    int side() const { return 2 * r + 1; }
    bool inside(cv::Point p) const { return std::abs(p.x) <= r && std::abs(p.y) <= r; }
    float at(cv::Point p) const {
        return v[static_cast<std::size_t>((p.y + r) * side() + (p.x + r))];
    }
};

// No one of the 8 neighbours inside the window is strictly greater.
bool local_maximum(const Window& w, cv::Point p) {
    static constexpr int kAround[8][2] = {{1, -1}, {0, -1}, {-1, -1}, {-1, 0},
                                          {-1, 1}, {0, 1},  {1, 1},   {1, 0}};
    const float c = w.at(p);
    for (const auto& d : kAround) {
        const cv::Point q(p.x + d[0], p.y + d[1]);
        if (w.inside(q) && w.at(q) > c) return false;
    }
    return true;
}

struct RingBest {
    float value = kNoValue;
    cv::Point at{0, 0};
};

// Best of ring j: among its local maxima (the first of equal values stays), or plainly.
RingBest ring_best(const Window& w, int j, bool maxima_only) {
    RingBest b;
    for (const cv::Point& p : ring_points(j)) {
        if (!w.inside(p)) continue;
        const float v = w.at(p);
        if (v > b.value && (!maxima_only || local_maximum(w, p))) b = {v, p};
    }
    return b;
}

// The nine values around p (inside the window: p lies at most r - 1 from the centre).
void values_3x3(const Window& w, cv::Point p, float m[9]) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) m[(dy + 1) * 3 + dx + 1] = w.at({p.x + dx, p.y + dy});
}

// The part of a window offset across the edge: along the model normal `normal` (unit).
cv::Point2f across(cv::Point2f at, cv::Point2f normal) { return at.dot(normal) * normal; }

// How a point moves by its window: the rings 0 .. R - 1 about the centre give their best local
// maximum, ring R its plain maximum. A clear best ring (value above kMinMoveValue, the runner-up
// below kRingSeparation of it) moves the point: ring R by its whole offset across the edge; an
// inner ring by the Newton step of the quadric through the 3 by 3 values around its best position,
// or, when the quadric is a ridge, by that position and step projected on the model normal; a
// quadric that is not a peak gives no move. Without a clear best ring, ring R's maximum above
// kMinMoveValue moves the point by its whole offset across the edge. A move along an edge is not
// seen by the window (its neighbours slide along the same edge): only the part across it counts,
// where a whole move along the edge used to drag the field by up to 4 px.
PointMove analyse_window(const Window& w, int R, cv::Point2f normal) {
    std::vector<RingBest> rings(static_cast<std::size_t>(R) + 1);
    for (int j = 0; j <= R; ++j) rings[static_cast<std::size_t>(j)] = ring_best(w, j, j < R);
    std::vector<int> order(rings.size());
    for (std::size_t j = 0; j < order.size(); ++j) order[j] = static_cast<int>(j);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return rings[static_cast<std::size_t>(a)].value > rings[static_cast<std::size_t>(b)].value;
    });
    const RingBest& best = rings[static_cast<std::size_t>(order[0])];
    const float second =
        order.size() > 1 ? rings[static_cast<std::size_t>(order[1])].value : kNoValue;
    const RingBest& outer = rings[static_cast<std::size_t>(R)];
    PointMove m;
    if (best.value > kMinMoveValue && second < kRingSeparation * best.value) {
        m.value = best.value;
        if (order[0] == R) {
            m.offset = across(best.at, normal);
            m.kind = kWholeOffset;
            return m;
        }
        float vals[9], k[6];
        values_3x3(w, best.at, vals);
        quadric_coeffs_3x3(vals, k);
        Eigen2 e;
        eigen_sym2x2_array(k, e);
        if (!(e.l1 < 0.f && e.l2 < 0.f)) return PointMove{};
        QuadraticPeak q;
        const bool peak = fit_quadratic_peak(vals, q);
        if (std::fabs(e.l2) < kFlatCurvature || e.l1 / e.l2 > kRidgeRatio) {
            cv::Point2f at(best.at);
            if (peak) at += cv::Point2f(q.ox, q.oy);
            m.offset = across(at, normal);
            m.kind = kAcrossRidge;
            return m;
        }
        if (!peak) return PointMove{};
        m.offset = cv::Point2f(static_cast<float>(best.at.x) + q.ox,
                               static_cast<float>(best.at.y) + q.oy);
        m.kind = kSubpixelPeak;
        return m;
    }
    if (outer.value > kMinMoveValue) {
        m.offset = across(outer.at, normal);
        m.value = outer.value;
        m.kind = kWholeOffset;
    }
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

// The candidate's posed points at the stage's step, with their source positions in the field
// rectangle and the half extents of the rectangle.
struct PosedPoints {
    NormalTemplate tpl;
    std::vector<float> xf, yf;
    std::vector<cv::Point2f> src;
    int hw = 0, hh = 0;
};

void pose_candidate(const DeformLevel& lvl, const Match& cand, PosedPoints& p) {
    const ShapeModelRecord& rec = *lvl.rec;
    const int model_level = lvl.level + 1;
    normal_template_sampled(rec, p.tpl, model_level, cand.scale_row, cand.scale_col, &p.xf, &p.yf,
                            kDeformPointStep[lvl.stage], cand.angle);
    const LevelView view = rec.level(model_level);
    const double w = static_cast<double>(view.width) * cand.scale_col;
    const double h = static_cast<double>(view.height) * cand.scale_row;
    const double a = static_cast<double>(cand.angle) * (kPi / 180.0);
    const double c = std::fabs(std::cos(a)), s = std::fabs(std::sin(a));
    p.hw = static_cast<int>(std::ceil(0.5 * (c * w + s * h)));
    p.hh = static_cast<int>(std::ceil(0.5 * (s * w + c * h)));
    p.src.resize(p.xf.size());
    for (std::size_t i = 0; i < p.xf.size(); ++i)
        p.src[i] = {p.xf[i] + static_cast<float>(p.hw), p.yf[i] + static_cast<float>(p.hh)};
}

// Each point's starting displacement: from the level above's field at half the point's position
// (about that field's centre), doubled, plus what the doubled centre of that field lies off the
// candidate's centre (cx, cy); without one, the candidate's sub-pixel offset (fx, fy).
void seed_from_upper(const DeformField& upper, const PosedPoints& p, int cx, int cy, float fx,
                     float fy, std::vector<cv::Point2f>& d) {
    d.assign(p.src.size(), cv::Point2f(fx, fy));
    if (upper.empty()) return;
    const int hx = (upper.rect.width - 1) / 2, hy = (upper.rect.height - 1) / 2;
    const cv::Point2f shift(static_cast<float>(2 * (upper.rect.x + hx) - cx),
                            static_cast<float>(2 * (upper.rect.y + hy) - cy));
    for (std::size_t i = 0; i < d.size(); ++i) {
        float dx, dy;
        field_displacement(upper, 0.5f * p.xf[i] + static_cast<float>(hx),
                           0.5f * p.yf[i] + static_cast<float>(hy), dx, dy);
        d[i] = cv::Point2f(2.f * dx, 2.f * dy) + shift;
    }
}

// The pose part of the points' displacements (about the candidate's whole-pixel centre): the
// weighted least-squares change of row, column, angle (degrees) and row and column scales that
// best explains every weighted point's displacement along its model normal. A second solve weighs
// the points again by Tukey's biweight of the first one's residuals, so that points caught by a
// wrong edge do not pull the pose. Returns false when no step within bounds was found.
bool fit_pose_change(const DeformLevel& lvl, const Match& cand, const PosedPoints& p,
                     const std::vector<cv::Point2f>& d, const std::vector<float>& weights,
                     float x[5]) {
    const auto n = static_cast<int>(p.src.size());
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
    // A pass may move its points by a whole window: the step's bounds (the tolerance's pixels plus
    // 2.5) must let the pose follow that far, or the field keeps the offset.
    const int reach = kDeformWindowBase[lvl.stage];
    const float angle_bound = angle_step(*lvl.rec, lvl.level + 1);
    if (!pose_scale_least_squares_step(rows, rhs, weights, reach, angle_bound, kMaxPoseScaleStep,
                                       x))
        return false;
    std::vector<float> residual(p.src.size()), robust;
    const cv::Mat sol = (cv::Mat_<float>(5, 1) << x[0], x[1],
                         x[2] * static_cast<float>(kPi / 180.0), x[3], x[4]);
    const cv::Mat r = rhs - rows * sol;
    for (int i = 0; i < n; ++i) residual[static_cast<std::size_t>(i)] = r.at<float>(i);
    least_squares_weights(residual, 0, robust);
    for (std::size_t i = 0; i < robust.size(); ++i) robust[i] *= weights[i];
    return pose_scale_least_squares_step(rows, rhs, robust, reach, angle_bound, kMaxPoseScaleStep,
                                         x);
}

// The displacement of a point found only across its edge says nothing about its move along the
// edge. The weighted affine map (shift and 2 by 2 matrix) that best explains the weighted points'
// displacements along their model normals (least squares, Tukey-weighted again by the first
// solve's residuals) supplies that part: every point not placed by a sub-pixel peak takes the
// affine map's move along its edge and keeps its own across it.
void complete_along_edges(const PosedPoints& p, const std::vector<int>& kind,
                          const std::vector<float>& weights, std::vector<cv::Point2f>& d,
                          double aff[6]) {
    std::fill(aff, aff + 6, 0.0);
    const auto n = static_cast<int>(p.src.size());
    cv::Mat rows(n, 6, CV_64F), rhs(n, 1, CV_64F);
    std::vector<cv::Point2f> g(p.src.size());
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        g[k] = unit(p.tpl.nxs[k], p.tpl.nys[k]);
        const double x = p.xf[k], y = p.yf[k];
        double* row = rows.ptr<double>(i);
        row[0] = g[k].x;
        row[1] = g[k].y;
        row[2] = g[k].x * x;
        row[3] = g[k].x * y;
        row[4] = g[k].y * x;
        row[5] = g[k].y * y;
        rhs.at<double>(i) = g[k].dot(d[k]);
    }
    std::vector<float> w = weights, residual(p.src.size());
    cv::Mat a;
    for (int round = 0; round < 2; ++round) {
        cv::Mat wr = rows.clone(), wb = rhs.clone();
        for (int i = 0; i < n; ++i) {
            const double s = std::sqrt(std::max(0.f, w[static_cast<std::size_t>(i)]));
            wr.row(i) *= s;
            wb.at<double>(i) *= s;
        }
        if (!cv::solve(wr, wb, a, cv::DECOMP_SVD)) return;
        const cv::Mat r = rhs - rows * a;
        for (int i = 0; i < n; ++i) residual[static_cast<std::size_t>(i)] = static_cast<float>(r.at<double>(i));
        std::vector<float> robust;
        least_squares_weights(residual, 0, robust);
        for (std::size_t i = 0; i < robust.size(); ++i) w[i] = weights[i] * robust[i];
    }
    const double* c = a.ptr<double>();
    std::copy(c, c + 6, aff);
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (kind[i] == kSubpixelPeak) continue;
        const cv::Point2f t(-g[i].y, g[i].x);
        const cv::Point2f fit(static_cast<float>(c[0] + c[2] * p.xf[i] + c[3] * p.yf[i]),
                              static_cast<float>(c[1] + c[4] * p.xf[i] + c[5] * p.yf[i]));
        d[i] += (fit - d[i]).dot(t) * t;
    }
}

// Moves the candidate by the pose change x of fit_pose_change and poses its points again: each
// point keeps the image position it was found at (its displacement is taken against the new
// pose), the whole-pixel centre is the new centre rounded and the rest goes to dx, dy. A pose
// whose sampling gives another point count is not taken.
void apply_pose_change(const DeformLevel& lvl, const float x[5], Match& cand, PosedPoints& p,
                       std::vector<cv::Point2f>& d, int& cx, int& cy) {
    const ShapeModelRecord& rec = *lvl.rec;
    Match moved = cand;
    moved.angle += x[2];
    moved.scale_row = std::clamp(moved.scale_row + x[3], rec.scale_row_min, rec.scale_row_max);
    moved.scale_col = std::clamp(moved.scale_col + x[4], rec.scale_col_min, rec.scale_col_max);
    PosedPoints q;
    pose_candidate(lvl, moved, q);
    if (q.src.size() != p.src.size()) return;
    const float fx = static_cast<float>(cx) + x[1], fy = static_cast<float>(cy) + x[0];
    const int nx = round_half_away(fx), ny = round_half_away(fy);
    for (std::size_t i = 0; i < d.size(); ++i)
        d[i] += cv::Point2f(p.xf[i] - q.xf[i] + static_cast<float>(cx - nx),
                            p.yf[i] - q.yf[i] + static_cast<float>(cy - ny));
    cand = moved;
    cand.x = cx = nx;
    cand.y = cy = ny;
    cand.dx = fx - static_cast<float>(nx);
    cand.dy = fy - static_cast<float>(ny);
    p = std::move(q);
}

// The window of point i: for each offset, the mean over its neighbours of their normal agreement
// at their predicted positions moved by the offset; negated for reversed contrast.
void point_window(const DeformLevel& lvl, const NormalLookup& maps, const PosedPoints& p,
                  const std::vector<cv::Point2f>& d, int cx, int cy, const int* nb, int kk,
                  float sign, Window& w) {
    const int side = w.side();
    w.v.assign(static_cast<std::size_t>(side * side), 0.f);
    const bool absolute = lvl.metric == 0;
    for (int n = 0; n < kk; ++n) {
        const auto j = static_cast<std::size_t>(nb[n]);
        const int bx = cx + round_posed(p.xf[j] + d[j].x);
        const int by = cy + round_posed(p.yf[j] + d[j].y);
        const float gx = p.tpl.nxs[j], gy = p.tpl.nys[j];
        for (int oy = -w.r; oy <= w.r; ++oy) {
            float* row = w.v.data() + static_cast<std::size_t>((oy + w.r) * side);
            for (int ox = -w.r; ox <= w.r; ++ox)
                row[ox + w.r] += maps.dot(bx + ox, by + oy, gx, gy, absolute);
        }
    }
    const float scale = sign / static_cast<float>(std::max(kk, 1));
    for (float& v : w.v) v *= scale;
}

// The affine map aff (shift, then the 2 by 2 matrix by rows) at the posed position (x, y).
cv::Point2f affine_at(const double aff[6], float x, float y) {
    return {static_cast<float>(aff[0] + aff[2] * x + aff[3] * y),
            static_cast<float>(aff[1] + aff[4] * x + aff[5] * y)};
}

// The field of the rectangle from the points' displacements: the affine map aff plus the
// interpolated rest (the interpolation relaxes towards its neighbours' mean between the points,
// so what a straight-line model explains is taken out first). Points where the field folds lose
// their weight and the field is solved once more without them.
void solve_field(const PosedPoints& p, const std::vector<cv::Point2f>& d,
                 std::vector<float>& weights, const double aff[6], DeformField& field) {
    std::vector<cv::Point2f> targets(p.src.size());
    for (std::size_t i = 0; i < targets.size(); ++i)
        targets[i] = p.src[i] + d[i] - affine_at(aff, p.xf[i], p.yf[i]);
    const cv::Size size = field.rect.size();
    generateDenseFieldFast(size, targets, p.src, weights, field.map_x, field.map_y, 0, kFieldWeightScale, 0, 0);
    if (rejectFoldingPoints(field.map_x, field.map_y, p.src, weights, kFoldMinDeterminant,
                            kFoldMaxDeviation) > 0)
        generateDenseFieldFast(size, targets, p.src, weights, field.map_x, field.map_y, 0, kFieldWeightScale, 0,
                               0);
    for (int r = 0; r < size.height; ++r) {
        float* mx = field.map_x.ptr<float>(r);
        float* my = field.map_y.ptr<float>(r);
        for (int c = 0; c < size.width; ++c) {
            const cv::Point2f a = affine_at(aff, static_cast<float>(c - p.hw),
                                            static_cast<float>(r - p.hh));
            mx[c] += a.x;
            my[c] += a.y;
        }
    }
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
    if ((lvl.sw && timed_out(*lvl.sw, lvl.timeout_ms)) || !(cand.score >= lvl.min_score)) return;
    const float fx = 2.f * (static_cast<float>(cand.x) + cand.dx);
    const float fy = 2.f * (static_cast<float>(cand.y) + cand.dy);
    int cx = round_half_away(fx), cy = round_half_away(fy);
    cand.x = cx;
    cand.y = cy;
    cand.dx = fx - static_cast<float>(cx);
    cand.dy = fy - static_cast<float>(cy);

    PosedPoints p;
    pose_candidate(lvl, cand, p);
    const std::size_t count = p.src.size();
    const std::vector<int>& nbs = *lvl.neighbours;
    const int k = lvl.neighbour_count;
    const int kk = std::min<int>(k, static_cast<int>(count));
    if (count == 0 || kk < 1 || nbs.size() < count * static_cast<std::size_t>(k)) {
        cand.score = 0.f;
        return;
    }
    std::vector<cv::Point2f> d;
    seed_from_upper(field, p, cx, cy, cand.dx, cand.dy, d);
    field = DeformField{};

    const NormalLookup maps{*lvl.nx, *lvl.ny, lvl.border};
    const float sign = static_cast<signed char>(cand.flag) < 0 ? -1.f : 1.f;
    const int base = kDeformWindowBase[lvl.stage];
    const int passes = lvl.last ? 1 : 2;
    std::vector<float> conf(count, 0.f), weights(count, 0.f);
    std::vector<int> kind(count);
    std::vector<unsigned char> moved(count, 0);
    Window w;
    for (int pass = 0; pass < passes; ++pass) {
        if (pass > 0) {
            if (lvl.sw && timed_out(*lvl.sw, lvl.timeout_ms)) return;
            for (std::size_t i = 0; i < count; ++i) {
                float dx, dy;
                field_displacement(field, p.src[i].x, p.src[i].y, dx, dy);
                d[i] = {dx, dy};
            }
        }
        w.r = std::max(kMinWindowRadius, base - pass);
        const int R = base - pass;
        double score_sum = 0.0;
        std::vector<cv::Point2f> next = d;
        for (std::size_t i = 0; i < count; ++i) {
            point_window(lvl, maps, p, d, cx, cy, nbs.data() + i * static_cast<std::size_t>(k),
                         kk, sign, w);
            score_sum += *std::max_element(w.v.begin(), w.v.end());
            const PointMove m = analyse_window(w, R, unit(p.tpl.nxs[i], p.tpl.nys[i]));
            kind[i] = m.kind;
            if (m.kind == kNoMove) continue;
            next[i] += m.offset;
            conf[i] += m.value;
            moved[i] = 1;
        }
        d.swap(next);
        cand.score = static_cast<float>(score_sum / static_cast<double>(count));
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
            apply_pose_change(lvl, x, cand, p, d, cx, cy);
        double aff[6];
        complete_along_edges(p, kind, weights, d, aff);
        field.rect = cv::Rect(cx - p.hw, cy - p.hh, 2 * p.hw + 1, 2 * p.hh + 1);
        solve_field(p, d, weights, aff, field);
    }
    // On the last level the field carries the sub-pixel part of the position.
    if (lvl.last) cand.dx = cand.dy = 0.f;
}

}  // namespace quro
