#include "quro/match/templates.h"

#include <algorithm>
#include <cmath>

#include "quro/model_pose.h"
#include "quro/model_transforms.h"

namespace quro {
namespace {

// One posing of a model level: its row and column scales, the angle in degrees, the point step,
// and whether directions come from the scaled ellipse (circle models).
struct Posing {
    int level = 0;
    float sr = 1.f;
    float sc = 1.f;
    float angle = 0.f;
    int step = 0;
    bool circle = false;
};

// Poses every step-th point of `p.level` into the offsets, box and level size of `out` (its point
// lists already sized by sampled_count), handing each point to emit(i, posed position, rotated
// direction). A template without points keeps the INT_MAX / INT_MIN box of an empty PoseBox.
template <class Template, class Emit>
void pose_sampled(const ShapeModelRecord& rec, Template& out, const Posing& p, Emit&& emit) {
    const LevelView view = rec.level(p.level);
    out.level_width = view.width;
    out.level_height = view.height;
    const auto stride = static_cast<std::size_t>(std::max(p.step, 1));
    const PoseBox box = pose_points(
        view.features.data(), stride, out.xs.size(), pose_rotation(p.angle), p.sr, p.sc, p.circle,
        [&](std::size_t i, const PoseVec& pos, const PoseVec& dir, int x, int y) {
            out.xs[i] = x;
            out.ys[i] = y;
            emit(i, pos, dir);
        });
    out.min_x = box.min_x;
    out.min_y = box.min_y;
    out.max_x = box.max_x;
    out.max_y = box.max_y;
}

// The level's default point step; p.step is not read.
void build_quantized(const ShapeModelRecord& rec, QuantizedTemplate& out, Posing p) {
    p.step = template_point_step(rec, p.level, 0);
    const std::size_t count = sampled_count(rec.level(p.level).features.size(), p.step);
    out.xs.resize(count);
    out.ys.resize(count);
    out.codes.resize(count);
    pose_sampled(rec, out, p, [&](std::size_t i, const PoseVec&, const PoseVec& d) {
        out.codes[i] = quantize_direction16(d.x, d.y);
    });
}

// p.step as normal_template_sampled takes it (0: the level's default).
void build_normal(const ShapeModelRecord& rec, NormalTemplate& out, Posing p,
                  std::vector<float>* xf, std::vector<float>* yf) {
    p.step = template_point_step(rec, p.level, p.step);
    const std::size_t count = sampled_count(rec.level(p.level).features.size(), p.step);
    out.xs.resize(count);
    out.ys.resize(count);
    out.nxs.resize(count);
    out.nys.resize(count);
    if (xf) xf->resize(count);
    if (yf) yf->resize(count);
    pose_sampled(rec, out, p, [&](std::size_t i, const PoseVec& pos, const PoseVec& d) {
        out.nxs[i] = d.x;
        out.nys[i] = d.y;
        if (xf) (*xf)[i] = pos.x;
        if (yf) (*yf)[i] = pos.y;
    });
}

}  // namespace

int quantize_direction16(float a, float b) {
    int f = 4;
    if (b != 0.f) {
        const float aa = std::fabs(a);
        const float bb = std::fabs(b);
        // tan 11.25, 33.75, 56.25 and 78.75 degrees; equality goes to the higher f.
        if (aa < bb * 0.19891237f) f = 0;
        else if (aa < bb * 0.6681786f) f = 1;
        else if (aa < bb * 1.4966058f) f = 2;
        else if (aa < bb * 5.0273395f) f = 3;
    }
    if (a >= 0.f) return b >= 0.f ? f : 8 - f;
    return b < 0.f ? 8 + f : (16 - f) & 15;
}

void quantized_template(const ShapeModelRecord& rec, QuantizedTemplate& out, int level,
                        float scale, float angle) {
    build_quantized(rec, out, {level, scale, scale, angle, 0, false});
}

void quantized_template_aniso(const ShapeModelRecord& rec, QuantizedTemplate& out, int level,
                              float scale_row, float scale_col, float angle) {
    build_quantized(rec, out, {level, scale_row, scale_col, angle, 0, is_circle_model(rec)});
}

void normal_template(const ShapeModelRecord& rec, NormalTemplate& out, int level, float scale,
                     float angle) {
    build_normal(rec, out, {level, scale, scale, angle, 0, false}, nullptr, nullptr);
}

void normal_template_aniso(const ShapeModelRecord& rec, NormalTemplate& out, int level,
                           float scale_row, float scale_col, float angle) {
    build_normal(rec, out, {level, scale_row, scale_col, angle, 0, is_circle_model(rec)}, nullptr,
                 nullptr);
}

void normal_template_sampled(const ShapeModelRecord& rec, NormalTemplate& out, int level,
                             float scale_row, float scale_col, std::vector<float>* xf,
                             std::vector<float>* yf, int step, float angle) {
    build_normal(rec, out, {level, scale_row, scale_col, angle, step, is_circle_model(rec)}, xf,
                 yf);
}

bool model_leaves_image(const ShapeModelRecord& rec, float cx, float cy, int width, int height,
                        int level, float angle, float scale) {
    const std::vector<Feature>& pts = rec.level(level).features;
    const auto k = static_cast<std::size_t>(rec.num_levels - level + 1);
    const PoseRotation r = pose_rotation(angle);
    for (std::size_t i = 0; i < pts.size(); i += k) {
        const PoseVec pos = pose_position(r, pts[i].x, pts[i].y, scale, scale);
        const int px = round_posed(pos.x + cx);
        const int py = round_posed(pos.y + cy);
        if (px < 0 || py < 0 || px >= width || py >= height) return true;
    }
    return false;
}

}  // namespace quro
