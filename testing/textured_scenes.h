// Textured scenes for the search comparison and the search tests: models with fine texture
// (printed text, an engraved coin with a knurled rim, a synthetic photo; photo crops are loaded
// by the benchmark) pasted at random angles and sub-pixel positions into photo or drawn
// backgrounds, with distractors cut from the other models, under one of several conditions:
// light noise, strong noise, a quarter of every instance covered, reversed contrast, blur.
// Only OpenCV's core and imgproc modules are used, so the tests render the same scenes.
#ifndef QURO_TESTING_TEXTURED_SCENES_H
#define QURO_TESTING_TEXTURED_SCENES_H

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "testing/compare_scenes.h"
#include "testing/supersampled.h"

namespace compare {

inline double uniform_real(std::mt19937& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}
inline int uniform_index(std::mt19937& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// ---- Rendered models ---------------------------------------------------------------------------
// Each is drawn at kTextureSuper times its size and reduced by area averaging (anti-aliased).

inline constexpr int kTextureSuper = 4;

inline cv::Mat reduce_super(const cv::Mat& big) {
    return quro_test::Supersampled(big, kTextureSuper).reduce();
}

inline std::string random_word(std::mt19937& rng, int min_len, int max_len) {
    std::string w;
    const int n = uniform_index(rng, min_len, max_len);
    for (int i = 0; i < n; ++i) w += static_cast<char>('a' + uniform_index(rng, 0, 25));
    return w;
}

// A printed text: lines of random words in dark ink on light paper, letters about 9 px high.
inline cv::Mat render_text_model(std::mt19937& rng, cv::Size size) {
    const int s = kTextureSuper;
    const double paper = uniform_real(rng, 195, 240), ink = uniform_real(rng, 15, 60);
    cv::Mat big(size.height * s, size.width * s, CV_8U, cv::Scalar(paper));
    const int font = uniform_index(rng, 0, 1) ? cv::FONT_HERSHEY_SIMPLEX : cv::FONT_HERSHEY_DUPLEX;
    const double scale = uniform_real(rng, 0.38, 0.48) * s;
    const int pitch = static_cast<int>(uniform_real(rng, 15, 20) * s);
    for (int y = pitch - 4 * s; y < big.rows - s; y += pitch) {
        int x = uniform_index(rng, -6, 8) * s;
        while (x < big.cols) {
            const std::string w = random_word(rng, 1, 8);
            cv::putText(big, w, {x, y}, font, scale, cv::Scalar(ink), s, cv::LINE_AA);
            int base = 0;
            x += cv::getTextSize(w, font, scale, s, &base).width + uniform_index(rng, 4, 7) * s;
        }
    }
    return reduce_super(big);
}

// A coin of `diameter` pixels on a flat ground, in a square image with a small margin: a knurled
// rim (radial ridges), a raised ring, and embossed digits and a mark lit from the top left. The
// digits and the off-centre mark make every rotation distinct.
inline cv::Mat render_coin_model(std::mt19937& rng, int diameter) {
    const int s = kTextureSuper;
    const int side = (diameter + 8) * s;
    const double r = 0.5 * diameter * s;
    const cv::Point2d c(0.5 * (side - 1), 0.5 * (side - 1));
    const double metal = uniform_real(rng, 140, 190), ground = uniform_real(rng, 50, 100);
    // Height map: 0 on the ground, 1 on the face, 2 on raised parts.
    cv::Mat height(side, side, CV_32F, cv::Scalar(0));
    cv::circle(height, c, static_cast<int>(r), cv::Scalar(1), cv::FILLED, cv::LINE_AA);
    const int ridges = uniform_index(rng, 60, 110);
    const double rim = uniform_real(rng, 0.08, 0.12) * r;
    for (int k = 0; k < ridges; ++k) {
        const double t = 2 * CV_PI * k / ridges;
        const cv::Point2d u(std::cos(t), std::sin(t));
        cv::line(height, c + u * (r - rim), c + u * (r - 2.0 * s), cv::Scalar(2), 2 * s,
                 cv::LINE_AA);
    }
    cv::circle(height, c, static_cast<int>(r - rim - 3 * s), cv::Scalar(2), 2 * s, cv::LINE_AA);
    const std::string digits = std::to_string(uniform_index(rng, 10, 99));
    const double fs = 0.028 * diameter * s / 4.0 * uniform_real(rng, 0.9, 1.1);
    int base = 0;
    const cv::Size ts = cv::getTextSize(digits, cv::FONT_HERSHEY_DUPLEX, fs, 2 * s, &base);
    cv::putText(height, digits,
                cv::Point(static_cast<int>(c.x) - ts.width / 2,
                          static_cast<int>(c.y + 0.15 * r) + ts.height / 2),
                cv::FONT_HERSHEY_DUPLEX, fs, cv::Scalar(2), 2 * s, cv::LINE_AA);
    const double mark = uniform_real(rng, 0, 2 * CV_PI);
    const cv::Point2d mc = c + 0.45 * r * cv::Point2d(std::cos(mark), -std::abs(std::sin(mark)));
    cv::ellipse(height, mc, cv::Size(static_cast<int>(0.16 * r), static_cast<int>(0.07 * r)),
                mark * 180 / CV_PI, 0, 360, cv::Scalar(2), cv::FILLED, cv::LINE_AA);
    const std::string word = random_word(rng, 3, 5);
    cv::putText(height, word,
                cv::Point(static_cast<int>(c.x - 0.4 * r), static_cast<int>(c.y - 0.45 * r)),
                cv::FONT_HERSHEY_SIMPLEX, 0.5 * fs, cv::Scalar(2), s, cv::LINE_AA);
    // Shading: the face grey, plus the height difference along the light direction.
    cv::Mat face = (height > 0.5) / 255, face_f, shade;
    face.convertTo(face_f, CV_32F);
    const float k = static_cast<float>(uniform_real(rng, 25, 40));
    cv::Mat kernel = cv::Mat::zeros(2 * s + 1, 2 * s + 1, CV_32F);
    kernel.at<float>(0, 0) = k;
    kernel.at<float>(2 * s, 2 * s) = -k;
    cv::filter2D(height, shade, CV_32F, kernel);
    cv::Mat big = ground + face_f * (metal - ground) + shade;
    cv::Mat out;
    big.convertTo(out, CV_8U);
    return reduce_super(out);
}

// Smooth random brightness: uniform noise blurred with `sigma`, stretched to [lo, hi].
inline cv::Mat smooth_noise(cv::Size size, double sigma, double lo, double hi, std::mt19937& rng) {
    cv::Mat f(size, CV_32F);
    cv::RNG(rng()).fill(f, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::GaussianBlur(f, f, cv::Size(0, 0), sigma);
    cv::normalize(f, f, lo, hi, cv::NORM_MINMAX);
    return f;
}

// A synthetic photo: smooth shading, filled shapes of random grey (some of them soft) and a fine
// grain.
inline cv::Mat render_photo_texture(std::mt19937& rng, cv::Size size) {
    const int s = kTextureSuper;
    const cv::Size big_size(size.width * s, size.height * s);
    cv::Mat big = smooth_noise(big_size, 12.0 * s, 60, 190, rng);
    const int shapes = uniform_index(rng, 8, 14);
    for (int i = 0; i < shapes; ++i) {
        cv::Mat layer(big_size, CV_32F, cv::Scalar(0));
        const cv::Point2d p(uniform_real(rng, 0, big.cols), uniform_real(rng, 0, big.rows));
        const int a = static_cast<int>(uniform_real(rng, 4, 22) * s),
                  b = static_cast<int>(uniform_real(rng, 3, 14) * s);
        if (i % 3 == 2)
            cv::rectangle(layer,
                          cv::RotatedRect(p, cv::Size2f(2.f * a, 2.f * b),
                                          static_cast<float>(uniform_real(rng, 0, 180)))
                              .boundingRect(),
                          cv::Scalar(1), cv::FILLED);
        else
            cv::ellipse(layer, p, cv::Size(a, b), uniform_real(rng, 0, 180), 0, 360, cv::Scalar(1),
                        cv::FILLED, cv::LINE_AA);
        if (i % 4 == 1) cv::GaussianBlur(layer, layer, cv::Size(0, 0), 2.0 * s);
        big = big.mul(1.0 - layer) + layer * uniform_real(rng, 20, 235);
    }
    cv::Mat small = reduce_super(big);
    small += smooth_noise(size, 0.7, -12, 12, rng);
    cv::Mat out;
    small.convertTo(out, CV_8U);
    return out;
}

// ---- Scenes ------------------------------------------------------------------------------------

enum class Condition { kClean, kNoise, kOccluded, kReversed, kBlur };

inline const char* condition_label(Condition c) {
    switch (c) {
        case Condition::kClean:
            return "clean";
        case Condition::kNoise:
            return "noise";
        case Condition::kOccluded:
            return "occluded";
        case Condition::kReversed:
            return "reversed";
        case Condition::kBlur:
            return "blur";
    }
    return "?";
}

struct TexturedPlan {
    cv::Size size;
    int instances;        // of models[model]
    int max_distractors;  // 0..this many crops of the other models (fewer when out of room)
    Condition condition;
    int tile = 0;  // > 0: a mosaic of background cuts of this size
};

// A cut of `size` from a background at a random offset, the background enlarged first when it
// is smaller than the cut.
inline cv::Mat background_cut(const cv::Mat& photo, cv::Size size, std::mt19937& rng) {
    cv::Mat src = photo;
    const double f =
        std::max({1.0, double(size.width) / photo.cols, double(size.height) / photo.rows});
    if (f > 1.0) cv::resize(photo, src, cv::Size(), f * 1.01, f * 1.01, cv::INTER_LINEAR);
    const int x0 = uniform_index(rng, 0, src.cols - size.width);
    const int y0 = uniform_index(rng, 0, src.rows - size.height);
    cv::Mat out;
    src(cv::Rect(x0, y0, size.width, size.height)).convertTo(out, CV_32F);
    return out;
}

inline cv::Mat scene_background(const std::vector<cv::Mat>& photos, const TexturedPlan& plan,
                                std::mt19937& rng) {
    const int n = static_cast<int>(photos.size()) - 1;
    if (plan.tile <= 0) return background_cut(photos[uniform_index(rng, 0, n)], plan.size, rng);
    cv::Mat out(plan.size, CV_32F);
    for (int y = 0; y < plan.size.height; y += plan.tile)
        for (int x = 0; x < plan.size.width; x += plan.tile) {
            const cv::Rect r = cv::Rect(x, y, plan.tile, plan.tile) & cv::Rect({0, 0}, plan.size);
            background_cut(photos[uniform_index(rng, 0, n)], r.size(), rng).copyTo(out(r));
        }
    return out;
}

// Radius of the circle that holds `img` at any angle, with a little room.
inline double holding_radius(const cv::Mat& img) {
    return 0.5 * std::hypot(img.cols, img.rows) + 2;
}

// A random pose for a circle of radius r inside `size`, away from the `taken` circles (x, y, r).
inline bool place_circle(double r, cv::Size size, std::vector<cv::Point3d>& taken,
                         std::mt19937& rng, Pose& out) {
    if (2 * r >= size.width || 2 * r >= size.height) return false;
    for (int tries = 0; tries < 400; ++tries) {
        const Pose p{uniform_real(rng, r, size.width - 1 - r),
                     uniform_real(rng, r, size.height - 1 - r), uniform_real(rng, 0, 360)};
        bool free = true;
        for (const cv::Point3d& t : taken)
            free = free && std::hypot(p.x - t.x, p.y - t.y) > r + t.z;
        if (free) {
            taken.emplace_back(p.x, p.y, r);
            out = p;
            return true;
        }
    }
    return false;
}

// Composites `src` (CV_32F, the size of the canvas) over the canvas with per-pixel coverage.
inline void blend(cv::Mat& canvas, const cv::Mat& src, const cv::Mat& cover) {
    canvas = canvas.mul(1.0 - cover) + src.mul(cover);
}

// Pastes `img` at pose p with anti-aliased borders; `reversed` pastes 255 - value.
inline void paste(cv::Mat& canvas, const cv::Mat& img, const Pose& p, bool reversed) {
    cv::Mat f, ones(img.size(), CV_32F, cv::Scalar(1.0)), warped, cover;
    img.convertTo(f, CV_32F);
    if (reversed) f = 255.0 - f;
    const cv::Mat m = paste_transform(img, p.x, p.y, p.angle);
    cv::warpAffine(f, warped, m, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    cv::warpAffine(ones, cover, m, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    canvas = canvas.mul(1.0 - cover) + warped;  // warped is already coverage * value
}

// Covers a quarter of the instance `img` at pose p: a strip along one of its four sides (a
// quarter of its width or height deep, reaching 6 px beyond its outline), filled with another
// background cut, a flat grey or a linear gradient.
inline void occlude(cv::Mat& canvas, const cv::Mat& img, const Pose& p,
                    const std::vector<cv::Mat>& photos, std::mt19937& rng) {
    const int m = 6;
    cv::Mat strip(img.rows + 2 * m, img.cols + 2 * m, CV_32F, cv::Scalar(0));
    const int side = uniform_index(rng, 0, 3);
    const int dw = img.cols / 4, dh = img.rows / 4;
    const cv::Rect r = side == 0   ? cv::Rect(0, 0, m + dw, strip.rows)
                       : side == 1 ? cv::Rect(strip.cols - m - dw, 0, m + dw, strip.rows)
                       : side == 2 ? cv::Rect(0, 0, strip.cols, m + dh)
                                   : cv::Rect(0, strip.rows - m - dh, strip.cols, m + dh);
    strip(r).setTo(1.0);
    cv::Mat cover;
    cv::warpAffine(strip, cover, paste_transform(strip, p.x, p.y, p.angle), canvas.size(),
                   cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    const int fill = uniform_index(rng, 0, 2);
    cv::Mat src;
    if (fill == 0) {
        src = background_cut(photos[uniform_index(rng, 0, static_cast<int>(photos.size()) - 1)],
                             canvas.size(), rng);
    } else {
        const double g0 = uniform_real(rng, 20, 235);
        const double g1 = fill == 1 ? g0 : uniform_real(rng, 20, 235);
        const double t = uniform_real(rng, 0, 2 * CV_PI), len = 2 * holding_radius(img);
        src = cv::Mat(canvas.size(), CV_32F);
        for (int y = 0; y < src.rows; ++y)
            for (int x = 0; x < src.cols; ++x) {
                const double u = ((x - p.x) * std::cos(t) + (y - p.y) * std::sin(t)) / len + 0.5;
                src.at<float>(y, x) = static_cast<float>(g0 + (g1 - g0) * std::clamp(u, 0.0, 1.0));
            }
    }
    blend(canvas, src, cover);
}

// One scene: `plan.instances` copies of models[model] (their poses in `truth`), up to
// plan.max_distractors random crops (half to whole size) of the other models, then the
// condition: strips over the instances, blur of sigma 1.5..2, and noise of sigma 2 (8..10 for
// kNoise). `truth` comes back short when the scene has no room for the instances.
inline Scene render_textured_scene(const std::vector<cv::Mat>& models, int model,
                                   const std::vector<cv::Mat>& photos, const TexturedPlan& plan,
                                   std::mt19937& rng) {
    Scene s;
    s.model = model;
    cv::Mat canvas = scene_background(photos, plan, rng);
    const cv::Mat& img = models[static_cast<std::size_t>(model)];
    std::vector<cv::Point3d> taken;
    for (int i = 0; i < plan.instances; ++i) {
        Pose p{};
        if (!place_circle(holding_radius(img), plan.size, taken, rng, p)) return s;
        s.truth.push_back(p);
    }
    const int distractors = models.size() > 1 ? uniform_index(rng, 0, plan.max_distractors) : 0;
    for (int i = 0; i < distractors; ++i) {
        int other = uniform_index(rng, 0, static_cast<int>(models.size()) - 2);
        other += other >= model ? 1 : 0;
        const cv::Mat& o = models[static_cast<std::size_t>(other)];
        const int w = uniform_index(rng, o.cols / 2, o.cols),
                  h = uniform_index(rng, o.rows / 2, o.rows);
        const cv::Mat crop =
            o(cv::Rect(uniform_index(rng, 0, o.cols - w), uniform_index(rng, 0, o.rows - h), w, h));
        Pose p{};
        if (place_circle(holding_radius(crop), plan.size, taken, rng, p))
            paste(canvas, crop, p, false);
    }
    for (const Pose& p : s.truth) {
        paste(canvas, img, p, plan.condition == Condition::kReversed);
        if (plan.condition == Condition::kOccluded) occlude(canvas, img, p, photos, rng);
    }
    if (plan.condition == Condition::kBlur) {
        const double sigma = uniform_real(rng, 1.5, 2.0);
        cv::GaussianBlur(canvas, canvas, cv::Size(0, 0), sigma);
    }
    const double noise = plan.condition == Condition::kNoise ? uniform_real(rng, 8, 10) : 2.0;
    cv::Mat n(plan.size, CV_32F);
    cv::RNG(rng()).fill(n, cv::RNG::NORMAL, 0.0, noise);
    canvas += n;
    canvas.convertTo(s.image, CV_8U);
    return s;
}

}  // namespace compare

#endif  // QURO_TESTING_TEXTURED_SCENES_H
