#include "quro/match/deformable_refine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quro/edges/quadratic_peak.h"
#include "quro/match/templates.h"
#include "quro/model_pose.h"
#include "quro/numeric.h"
#include "quro/search/dense_field.h"

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

// How a point moves by its window: the rings 0 .. R - 1 about the centre give their best local
// maximum, ring R its plain maximum. A clear best ring (value above kMinMoveValue, the runner-up
// below kRingSeparation of it) moves the point: ring R by its whole offset; an inner ring by the
// Newton step of the quadric through the 3 by 3 values around its best position, or across the
// ridge only (the offset projected on the model normal) when the quadric is a ridge; a quadric that
// is not a peak gives no move. Without a clear best ring, ring R's maximum above kMinMoveValue
// moves the point by its whole offset.
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
            m.offset = cv::Point2f(best.at);
            m.kind = kWholeOffset;
            return m;
        }
        float vals[9], k[6];
        values_3x3(w, best.at, vals);
        quadric_coeffs_3x3(vals, k);
        Eigen2 e;
        eigen_sym2x2_array(k, e);
        if (!(e.l1 < 0.f && e.l2 < 0.f)) return PointMove{};
        if (std::fabs(e.l2) < kFlatCurvature || e.l1 / e.l2 > kRidgeRatio) {
            const float across = best.at.x * normal.x + best.at.y * normal.y;
            m.offset = across * normal;
            m.kind = kAcrossRidge;
            return m;
        }
        QuadraticPeak q;
        if (!fit_quadratic_peak(vals, q)) return PointMove{};
        m.offset = cv::Point2f(static_cast<float>(best.at.x) + q.ox,
                               static_cast<float>(best.at.y) + q.oy);
        m.kind = kSubpixelPeak;
        return m;
    }
    if (outer.value > kMinMoveValue) {
        m.offset = cv::Point2f(outer.at);
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
// (about that field's centre), doubled; 0 without one.
void seed_from_upper(const DeformField& upper, const PosedPoints& p,
                     std::vector<cv::Point2f>& d) {
    d.assign(p.src.size(), cv::Point2f(0.f, 0.f));
    if (upper.empty()) return;
    const float cx = static_cast<float>((upper.rect.width - 1) / 2);
    const float cy = static_cast<float>((upper.rect.height - 1) / 2);
    for (std::size_t i = 0; i < d.size(); ++i) {
        float dx, dy;
        field_displacement(upper, 0.5f * p.xf[i] + cx, 0.5f * p.yf[i] + cy, dx, dy);
        d[i] = {2.f * dx, 2.f * dy};
    }
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

cv::Point2f unit(float x, float y) {
    const float n = std::sqrt(x * x + y * y);
    return n > 0.f ? cv::Point2f(x / n, y / n) : cv::Point2f(0.f, 0.f);
}

// The field of the rectangle from the points' displacements; points where it folds lose their
// weight and the field is solved once more without them.
void solve_field(const PosedPoints& p, const std::vector<cv::Point2f>& d,
                 std::vector<float>& weights, DeformField& field) {
    std::vector<cv::Point2f> targets(p.src.size());
    for (std::size_t i = 0; i < targets.size(); ++i) targets[i] = p.src[i] + d[i];
    const cv::Size size = field.rect.size();
    generateDenseFieldFast(size, targets, p.src, weights, field.map_x, field.map_y, 0, 1.0, 0, 0);
    if (rejectFoldingPoints(field.map_x, field.map_y, p.src, weights, kFoldMinDeterminant,
                            kFoldMaxDeviation) > 0)
        generateDenseFieldFast(size, targets, p.src, weights, field.map_x, field.map_y, 0, 1.0, 0,
                               0);
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
    const int cx = round_half_away(2.f * (static_cast<float>(cand.x) + cand.dx));
    const int cy = round_half_away(2.f * (static_cast<float>(cand.y) + cand.dy));
    cand.x = cx;
    cand.y = cy;
    cand.dx = cand.dy = 0.f;

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
    seed_from_upper(field, p, d);
    field = DeformField{};
    field.rect = cv::Rect(cx - p.hw, cy - p.hh, 2 * p.hw + 1, 2 * p.hh + 1);

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
        solve_field(p, d, weights, field);
    }
}

}  // namespace quro
