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

// The sum of turned_sum for the level's points moved by (tx, ty), unturned.
double shifted_sum(const LevelField& f, float tx, float ty) {
    double sum = 0;
    for (std::size_t k = 0; k < f.pos.size(); ++k) {
        const cv::Point2f v = f.at(f.pos[k].x + tx, f.pos[k].y + ty);
        sum += f.dir[k].x * v.x + f.dir[k].y * v.y;
    }
    return sum;
}

// alike_shifts measured, as x, y pairs.
std::vector<float> measure_alike_shifts(const ShapeModelRecord& rec, int level) {
    std::vector<float> out;
    if (!rec.has_level(level)) return out;
    const LevelField f = level_field(rec, level);
    const double base = shifted_sum(f, 0.f, 0.f);
    if (!(base > 0)) return out;
    constexpr float kGrid = 0.5f;
    constexpr int kHalf = static_cast<int>(kShiftReach / kGrid);
    constexpr int n = 2 * kHalf + 1;
    // Rows with y < 0 mirror those with y > 0 (s(t) = s(-t) up to the field's sampling): the
    // half with y >= 0 and one row beyond, for the maxima test.
    std::vector<double> sim(static_cast<std::size_t>(n * (kHalf + 2)));
    const auto at = [&](int i, int j) -> double& {  // i in 0..n-1 (x), j in -1..kHalf (y)
        return sim[static_cast<std::size_t>((j + 1) * n + i)];
    };
    for (int j = -1; j <= kHalf; ++j)
        for (int i = 0; i < n; ++i)
            at(i, j) = shifted_sum(f, kGrid * static_cast<float>(i - kHalf),
                                   kGrid * static_cast<float>(j)) /
                       base;
    for (int j = 0; j < kHalf; ++j)
        for (int i = 1; i + 1 < n; ++i) {
            const float tx = kGrid * static_cast<float>(i - kHalf), ty = kGrid * static_cast<float>(j);
            // One of each pair: y > 0, or y = 0 and x > 0.
            if (j == 0 && tx < 0.f) continue;
            const double v = at(i, j);
            if (v < kShiftAlike || std::hypot(tx, ty) < kMinAlikeShift) continue;
            bool peak = true;
            for (int dj = -1; dj <= 1 && peak; ++dj)
                for (int di = -1; di <= 1; ++di)
                    if ((di != 0 || dj != 0) && at(i + di, j + dj) > v) peak = false;
            if (!peak) continue;
            out.push_back(tx);
            out.push_back(ty);
        }
    return out;
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

std::vector<cv::Point2f> alike_shifts(const ShapeModelRecord& rec, int level) {
    std::vector<float> xy;
    AngleProfileCache* cache = rec.angle_profiles.get();
    if (cache == nullptr || level < 1) {
        xy = measure_alike_shifts(rec, level);
    } else {
        const std::lock_guard lock(cache->mutex);
        const auto i = static_cast<std::size_t>(level - 1);
        if (cache->shifts_known.size() <= i) {
            cache->shifts_known.resize(i + 1, false);
            cache->alike_shifts.resize(i + 1);
        }
        if (!cache->shifts_known[i]) {
            cache->alike_shifts[i] = measure_alike_shifts(rec, level);
            cache->shifts_known[i] = true;
        }
        xy = cache->alike_shifts[i];
    }
    std::vector<cv::Point2f> out;
    for (std::size_t k = 0; k + 1 < xy.size(); k += 2) out.emplace_back(xy[k], xy[k + 1]);
    return out;
}

bool carries_alike_poses(const ShapeModelRecord& rec, int seed_level, int top, int last) {
    if (seed_level >= 0) return true;
    for (int r = std::max(last, 0); r < top; ++r)
        if (!alike_shifts(rec, r + 2).empty()) return true;
    return false;
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
