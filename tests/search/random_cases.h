// Random shape models and scenes for the randomized search tests: models created by the library
// from rendered parts, rendered polygons, generated outlines, polygons and point lists; scenes
// with instances of a model at known poses, clutter, noise and reversed contrast.
#ifndef QURO_TESTS_SEARCH_RANDOM_CASES_H
#define QURO_TESTS_SEARCH_RANDOM_CASES_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "quro/quro.h"
#include "testing/part_scene.h"
#include "testing/polygon_model.h"
#include "testing/supersampled.h"

namespace quro_test {

using Rng = std::mt19937;

inline double uniform(Rng& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}
inline int uniform_int(Rng& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}
inline bool chance(Rng& rng, double p) { return uniform(rng, 0, 1) < p; }

// How a model was made and how an instance of it is drawn.
enum class ModelSource { kPartImage, kPolygonImage, kOutline, kPolygon, kPointList };

struct RandomModel {
    int id = -1;
    ModelSource source = ModelSource::kPartImage;
    std::string what;                   // for failure messages
    double part_scale = 1.0;            // kPartImage: size of the part
    std::vector<cv::Point2f> outline;   // other sources: the drawn polygon around the reference
                                        // point (empty: no drawable instance)
    double reach = 0;                   // distance of the farthest model point from the reference
    int num_levels_arg = 0;             // the level count the creation was asked for
};

// A star-shaped polygon of 5..8 vertices at distances 0.6 r .. r from the origin, irregular
// enough that each pose is unique.
inline std::vector<cv::Point2f> random_star(Rng& rng, double r) {
    const int n = uniform_int(rng, 5, 8);
    std::vector<cv::Point2f> v;
    for (int i = 0; i < n; ++i) {
        const double a = (i + uniform(rng, -0.3, 0.3)) * 2 * CV_PI / n;
        const double d = r * uniform(rng, 0.6, 1.0);
        v.emplace_back(static_cast<float>(d * std::cos(a)), static_cast<float>(d * std::sin(a)));
    }
    return v;
}

// The irregular hexagon of irregular_outline, about 2 r across, each vertex moved by up to 4% of
// r: no rotation maps it onto itself.
inline std::vector<cv::Point2f> jittered_hexagon(Rng& rng, double r) {
    std::vector<cv::Point2f> v = irregular_outline(static_cast<float>(2 * r));
    for (auto& p : v)
        p += cv::Point2f(static_cast<float>(uniform(rng, -0.04, 0.04) * r),
                         static_cast<float>(uniform(rng, -0.04, 0.04) * r));
    return v;
}

// The vertices moved so that the middle of their bounding box is the origin (the reference point
// of polygon and point-list models).
inline std::vector<cv::Point2f> centre_on_box(std::vector<cv::Point2f> v) {
    float x0 = v[0].x, x1 = v[0].x, y0 = v[0].y, y1 = v[0].y;
    for (const auto& p : v) {
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    for (auto& p : v) p -= cv::Point2f((x0 + x1) * 0.5f, (y0 + y1) * 0.5f);
    return v;
}

inline double farthest(const std::vector<cv::Point2f>& v) {
    double r = 0;
    for (const auto& p : v) r = std::max(r, std::hypot(double(p.x), double(p.y)));
    return r;
}

// A regular n-gon approximating an ellipse of semi-axes a (columns) and b (rows).
inline std::vector<cv::Point2f> ellipse_outline(double a, double b, int n = 180) {
    std::vector<cv::Point2f> v;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * CV_PI * i / n;
        v.emplace_back(static_cast<float>(a * std::cos(t)), static_cast<float>(b * std::sin(t)));
    }
    return v;
}

// The cross of arm half-length a and half-width c as a 12-gon.
inline std::vector<cv::Point2f> cross_outline(float a, float c) {
    return {{-c, -a}, {c, -a}, {c, -c}, {a, -c}, {a, c},   {c, c},
            {c, a},   {-c, a}, {-c, c}, {-a, c}, {-a, -c}, {-c, -c}};
}

// Random contrast parameters around what rendered scenes need (sometimes far off).
inline ContrastParams random_contrast(Rng& rng) {
    ContrastParams c;
    c.contrast_low = uniform_int(rng, 0, 40);
    c.contrast_high = c.contrast_low + uniform_int(rng, 0, 60);
    c.min_component_size = chance(rng, 0.1) ? 500 : uniform_int(rng, 1, 40);
    c.min_contrast = uniform_int(rng, 0, 40);
    return c;
}

// Creates a random model. Returns the creation code; `m.id` is set on success. `sane` keeps the
// parameters where the model describes the drawn instances well (for recall tests).
inline int create_random_model(Rng& rng, RandomModel& m, bool sane) {
    const ContrastParams contrast = sane ? ContrastParams{10, 30, 10, 10} : random_contrast(rng);
    const int metric = sane ? 1 : uniform_int(rng, -1, 1);
    const int num_levels = sane ? (chance(rng, 0.5) ? 0 : uniform_int(rng, 2, 4))
                                : uniform_int(rng, 0, 12);
    m.num_levels_arg = num_levels;
    const float a0 = static_cast<float>(uniform(rng, -180, 180));
    const float ae = static_cast<float>(uniform(rng, 0, 360));
    int id = -1, rc = -99;
    const int pick = uniform_int(rng, 0, sane ? 2 : 5);
    if (pick == 0) {  // rendered part
        m.source = ModelSource::kPartImage;
        m.part_scale = uniform(rng, sane ? 0.5 : 0.15, 1.4);
        const int margin = uniform_int(rng, 3, 16);
        const cv::Size size(static_cast<int>(80 * m.part_scale) + 2 * margin,
                            static_cast<int>(56 * m.part_scale) + 2 * margin);
        const cv::Mat img = render_part_model(size, {40, 28, 9, m.part_scale});
        cv::Mat mask;
        if (!sane && chance(rng, 0.2)) {
            mask = cv::Mat(img.size(), CV_8U, cv::Scalar(255));
            cv::circle(mask, {uniform_int(rng, 0, img.cols), uniform_int(rng, 0, img.rows)},
                       uniform_int(rng, 2, 30), cv::Scalar(0), cv::FILLED);
        }
        m.reach = std::hypot(40, 28) * m.part_scale;
        m.what = "part x" + std::to_string(m.part_scale);
        rc = create_shape_model(img.data, img.cols, img.rows, num_levels, a0, ae, 0.f, metric,
                                &contrast, mask.empty() ? nullptr : mask.data, &id);
    } else if (pick == 1 || pick == 2) {  // rendered polygon, or the polygon export
        const double r = uniform(rng, sane ? 18 : 6, 70);
        // A random star may come out nearly symmetric (its pose then is ambiguous); the recall
        // tests take a jittered irregular hexagon instead.
        m.outline = centre_on_box(sane ? jittered_hexagon(rng, r) : random_star(rng, r));
        m.reach = farthest(m.outline);
        if (pick == 1) {
            m.source = ModelSource::kPolygonImage;
            const int side = static_cast<int>(2 * m.reach) + 2 * uniform_int(rng, 3, 14) + 1;
            const cv::Mat img = render_polygon(m.outline, {side, side},
                                               {(side - 1) * 0.5f, (side - 1) * 0.5f, 0.f});
            m.what = "polygon image r" + std::to_string(r);
            rc = create_shape_model(img.data, side, side, num_levels, a0, ae, 0.f, metric,
                                    &contrast, nullptr, &id);
        } else {
            m.source = ModelSource::kPolygon;
            std::vector<float> xs, ys;
            for (std::size_t i = 0; i <= m.outline.size(); ++i) {
                xs.push_back(m.outline[i % m.outline.size()].x);
                ys.push_back(m.outline[i % m.outline.size()].y);
            }
            std::vector<char> use(xs.size(), 1);
            if (!sane && chance(rng, 0.25)) {
                // A single straight segment (a model whose box has no area), or gaps.
                if (chance(rng, 0.5)) {
                    xs.resize(2), ys.resize(2), use.resize(2);
                    m.outline.clear();
                } else {
                    for (auto& u : use) u = chance(rng, 0.7) ? 1 : 0;
                }
            }
            const int n = static_cast<int>(xs.size());
            // A bright polygon: the directions point inside.
            const int count = n > 2 && polygon_signed_area2(m.outline) < 0 ? -n : n;
            m.what = "polygon export r" + std::to_string(r);
            rc = create_shape_model_pol(xs.data(), ys.data(), use.data(), count, num_levels, a0,
                                        ae, 0.f, metric, &contrast, &id);
        }
    } else if (pick == 3) {  // generated outline
        m.source = ModelSource::kOutline;
        const float a = static_cast<float>(uniform(rng, 4, 60));
        const int kind = uniform_int(rng, 0, 3);
        if (kind == 0) {
            m.outline = ellipse_outline(a, a);
            rc = create_shape_model_xld(a, 0.f, num_levels, a0, ae, 0.f, metric, &contrast, &id);
        } else if (kind == 1) {
            const float b = static_cast<float>(uniform(rng, 3, 50));
            m.outline = rectangle_outline(a, b);
            rc = create_shape_model_xld(a, b, num_levels, a0, ae, 0.f, metric, &contrast, &id);
        } else if (kind == 2) {
            const float b = static_cast<float>(uniform(rng, 3, 50));
            m.outline = ellipse_outline(a, b);
            rc = create_shape_model_xld(-a, -b, num_levels, a0, ae, 0.f, metric, &contrast, &id);
        } else {
            const float c = static_cast<float>(uniform(rng, 2, a * 0.8));
            m.outline = cross_outline(a, c);
            rc = create_shape_model_xld(a, -c, num_levels, a0, ae, 0.f, metric, &contrast, &id);
        }
        m.reach = farthest(m.outline);
        m.what = "outline kind " + std::to_string(kind) + " a" + std::to_string(a);
    } else if (pick == 4) {  // second outline family, including bars and corners (not drawn)
        m.source = ModelSource::kOutline;
        const int shape = uniform_int(rng, 0, 10);  // 0 and 10 are invalid shape numbers
        const float l1 = static_cast<float>(uniform(rng, -5, 60));
        const float l2 = static_cast<float>(uniform(rng, -5, 60));
        m.reach = std::hypot(l1, l2);
        m.what = "outline2 shape " + std::to_string(shape);
        rc = create_shape_model_xld2(shape, uniform_int(rng, 0, 1), l1, l2, num_levels, a0, ae,
                                     0.f, metric, &contrast, &id);
    } else {  // point list along a polygon
        m.source = ModelSource::kPointList;
        const double r = uniform(rng, 5, 60);
        const std::vector<cv::Point2f> star = random_star(rng, r);
        const std::vector<quro::Feature> pts = polygon_edge_points(star);
        std::vector<float> x, y, gx, gy;
        float x0 = 1e9f, x1 = -1e9f, y0 = 1e9f, y1 = -1e9f;
        for (const auto& f : pts) {
            x.push_back(f.x), y.push_back(f.y), gx.push_back(f.gx), gy.push_back(f.gy);
            x0 = std::min(x0, f.x), x1 = std::max(x1, f.x);
            y0 = std::min(y0, f.y), y1 = std::max(y1, f.y);
        }
        // The reference point is the middle of the points' bounding box.
        for (const auto& v : star)
            m.outline.emplace_back(v.x - (x0 + x1) * 0.5f, v.y - (y0 + y1) * 0.5f);
        m.reach = farthest(m.outline);
        m.what = "point list r" + std::to_string(r);
        rc = create_shape_model_xld3(x.data(), y.data(), gx.data(), gy.data(),
                                     static_cast<int>(x.size()), num_levels, a0, ae, 0.f, metric,
                                     &contrast, &id);
    }
    if (rc == 0) m.id = id;
    m.what += " levels " + std::to_string(num_levels) + " metric " + std::to_string(metric);
    return rc;
}

// One instance in a scene: reference point, angle (degrees), uniform scale.
struct Instance {
    double x = 0, y = 0, angle = 0, scale = 1;
};

struct SceneLook {
    double background = 60;
    double foreground = 170;
    double noise = 0;
    int clutter = 0;
    bool reversed = false;  // the finished image inverted
    unsigned seed = 1;
};

// Draws the instances of `m` (a part, or its outline polygon) into a scene of `size`. A model
// without a drawable outline gives clutter only.
inline cv::Mat render_instances(const RandomModel& m, cv::Size size,
                                const std::vector<Instance>& inst, const SceneLook& look) {
    cv::Mat img;
    if (m.source == ModelSource::kPartImage) {
        std::vector<PartPose> poses;
        double scale = m.part_scale;
        for (const auto& i : inst) {
            poses.push_back({i.x, i.y, i.angle});
            scale = m.part_scale * i.scale;  // one size per scene
        }
        img = render_part_scene(size, poses, {40, 28, 9, scale}, look.background,
                                look.foreground, 30, look.noise, look.seed, look.clutter);
    } else {
        constexpr int k = 8;
        Supersampled canvas(size, k, look.background);
        cv::Mat& big = canvas.fine();
        std::mt19937 rng(look.seed);
        for (int c = 0; c < look.clutter; ++c) {
            const cv::Point2d p(uniform(rng, 0, size.width), uniform(rng, 0, size.height));
            bool near = false;
            for (const auto& i : inst)
                near = near || std::hypot(p.x - i.x, p.y - i.y) < m.reach * i.scale + 14;
            if (near) continue;
            const cv::Scalar grey(uniform_int(rng, 20, 230));
            if (c % 2)
                cv::circle(big, p * k, k * uniform_int(rng, 2, 9), grey, cv::FILLED);
            else
                cv::line(big, p * k, p * k + cv::Point2d(k * 9, k * 4), grey, 2 * k);
        }
        if (!m.outline.empty()) {
            for (const auto& i : inst) {
                const PolygonPose pose{static_cast<float>(i.x), static_cast<float>(i.y),
                                       static_cast<float>(i.angle), static_cast<float>(i.scale),
                                       static_cast<float>(i.scale)};
                std::vector<cv::Point2d> placed;
                for (const auto& v : m.outline) placed.push_back(pose_model_point(pose, v.x, v.y));
                canvas.fill_polygon(placed, look.foreground);
            }
        }
        img = canvas.reduce();
        if (look.noise > 0) {
            cv::Mat noise(size, CV_32F), f;
            cv::RNG(look.seed * 31u + 7u).fill(noise, cv::RNG::NORMAL, 0, look.noise);
            img.convertTo(f, CV_32F);
            f += noise;
            f.convertTo(img, CV_8U);
        }
    }
    if (look.reversed) img = 255 - img;
    return img;
}

}  // namespace quro_test

#endif  // QURO_TESTS_SEARCH_RANDOM_CASES_H
