#include "quro/search/core/angle_profile.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/numeric.h"

namespace quro {
namespace {

constexpr float kFieldSigma = 1.f;
constexpr int kFieldMargin = 4;  // pixels around the points' box: the blur's reach

// The level's points about their centroid, with unit directions, and the blurred direction
// field of those points (origin at the field's pixel (ox, oy)).
struct LevelField {
    std::vector<cv::Point2f> pos;
    std::vector<cv::Point2f> dir;
    cv::Mat fx, fy;
    float ox = 0.f, oy = 0.f;

    // Bilinear sample of the field at centroid-relative (x, y); 0 outside it.
    cv::Point2f at(float x, float y) const {
        const float u = x + ox, v = y + oy;
        const auto x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
        if (x0 < 0 || y0 < 0 || x0 + 1 >= fx.cols || y0 + 1 >= fx.rows) return {0.f, 0.f};
        const float a = u - static_cast<float>(x0), b = v - static_cast<float>(y0);
        const auto lerp = [&](const cv::Mat& m) {
            const float* r0 = m.ptr<float>(y0);
            const float* r1 = m.ptr<float>(y0 + 1);
            return (1 - b) * ((1 - a) * r0[x0] + a * r0[x0 + 1]) +
                   b * ((1 - a) * r1[x0] + a * r1[x0 + 1]);
        };
        return {lerp(fx), lerp(fy)};
    }
};

LevelField level_field(const ShapeModelRecord& rec, int level) {
    LevelField f;
    const auto& feats = rec.level(level).features;
    double cx = 0, cy = 0;
    for (const Feature& p : feats) {
        cx += p.x;
        cy += p.y;
    }
    if (feats.empty()) return f;
    cx /= static_cast<double>(feats.size());
    cy /= static_cast<double>(feats.size());
    float r = 0.f;
    for (const Feature& p : feats) {
        const float n = std::hypot(p.gx, p.gy);
        if (!(n > 0.f) || !std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        const cv::Point2f q(static_cast<float>(p.x - cx), static_cast<float>(p.y - cy));
        f.pos.push_back(q);
        f.dir.emplace_back(p.gx / n, p.gy / n);
        r = std::max(r, std::hypot(q.x, q.y));
    }
    // Every turned point stays inside a circle of radius r about the centroid. The models
    // are at most some thousand pixels across; a corrupt coordinate leaves no field.
    if (f.pos.empty() || !(r < 1.0e4f)) return LevelField{};
    const int side = 2 * (static_cast<int>(std::ceil(r)) + kFieldMargin) + 1;
    f.ox = f.oy = static_cast<float>(side / 2);
    f.fx = cv::Mat::zeros(side, side, CV_32F);
    f.fy = cv::Mat::zeros(side, side, CV_32F);
    for (std::size_t k = 0; k < f.pos.size(); ++k) {
        const float u = f.pos[k].x + f.ox, v = f.pos[k].y + f.oy;
        const auto x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
        const float a = u - static_cast<float>(x0), b = v - static_cast<float>(y0);
        const float w[4] = {(1 - a) * (1 - b), a * (1 - b), (1 - a) * b, a * b};
        for (int j = 0; j < 4; ++j) {
            const int x = x0 + (j & 1), y = y0 + (j >> 1);
            f.fx.at<float>(y, x) += w[j] * f.dir[k].x;
            f.fy.at<float>(y, x) += w[j] * f.dir[k].y;
        }
    }
    cv::GaussianBlur(f.fx, f.fx, cv::Size(), kFieldSigma);
    cv::GaussianBlur(f.fy, f.fy, cv::Size(), kFieldSigma);
    return f;
}

double turned_sum(const LevelField& f, float angle) {
    const float c = std::cos(angle * kDegToRad), s = std::sin(angle * kDegToRad);
    double sum = 0;
    for (std::size_t k = 0; k < f.pos.size(); ++k) {
        const cv::Point2f& p = f.pos[k];
        const cv::Point2f& d = f.dir[k];
        // Turned counter-clockwise on screen (rows grow downwards), as the templates are.
        const cv::Point2f v = f.at(c * p.x + s * p.y, -s * p.x + c * p.y);
        const float dot = (c * d.x + s * d.y) * v.x + (-s * d.x + c * d.y) * v.y;
        sum += dot;
    }
    return sum;
}

}  // namespace

float rotation_self_similarity(const ShapeModelRecord& rec, int level, float angle) {
    const LevelField f = level_field(rec, level);
    const double base = turned_sum(f, 0.f);
    if (!(base > 0)) return 0.f;
    return static_cast<float>(turned_sum(f, angle) / base);
}

namespace {

float measure_alike_fraction(const ShapeModelRecord& rec, int level) {
    const LevelField f = level_field(rec, level);
    const double base = turned_sum(f, 0.f);
    if (!(base > 0)) return 0.f;
    const float step = angle_step(rec, level);
    int alike = 0, total = 0;
    for (float a = 2.5f * step; a < 360.f - 2.5f * step; a += step) {
        ++total;
        if (turned_sum(f, a) >= kFlatSimilarity * base) ++alike;
    }
    return total > 0 ? static_cast<float>(alike) / static_cast<float>(total) : 0.f;
}

}  // namespace

float alike_angle_fraction(const ShapeModelRecord& rec, int level) {
    AngleProfileCache* cache = rec.angle_profiles.get();
    if (cache == nullptr) return measure_alike_fraction(rec, level);
    // Measured under the lock: searches of one model that start together wait for one measure.
    const std::lock_guard lock(cache->mutex);
    std::vector<float>& known = cache->alike_fraction;
    const auto i = static_cast<std::size_t>(level - 1);
    if (known.size() <= i) known.resize(i + 1, std::numeric_limits<float>::quiet_NaN());
    if (std::isnan(known[i])) known[i] = measure_alike_fraction(rec, level);
    return known[i];
}

int angle_seed_level(const ShapeModelRecord& rec, int top, int last) {
    if (!rec.has_level(top + 1) || alike_angle_fraction(rec, top + 1) < kTopAlikeFraction)
        return -1;
    for (int r = top - 1; r >= std::max(last, 0); --r) {
        if (!rec.has_level(r + 1)) return -1;
        if (alike_angle_fraction(rec, r + 1) < kSeedAlikeFraction) return r;
    }
    return -1;
}

}  // namespace quro
