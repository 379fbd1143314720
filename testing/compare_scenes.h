// Scenes for the search comparison benchmark: copies of a model photo pasted at random angles,
// sub-pixel positions and (in the scaled sets) uniform scales into a cluttered photo, with the true
// pose of every copy kept.
#ifndef QURO_TESTING_COMPARE_SCENES_H
#define QURO_TESTING_COMPARE_SCENES_H

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

namespace compare {

// Pose of one instance: where the model image's centre lies in the scene (pixels, x = column)
// and its rotation in degrees, [0, 360), positive counter-clockwise on screen; its size relative
// to the model image, about the centre: `scale` along the model's rows (y), `scale_col` along its
// columns (x), equal unless the set stretches the two apart.
struct Pose {
    double x;
    double y;
    double angle;
    double scale = 1.0;
    double scale_col = 1.0;
    int model = 0;  // which model the instance is of, in scenes of several models
};

struct Scene {
    cv::Mat image;  // CV_8UC1, continuous
    std::vector<Pose> truth;
    int model = 0;  // which model the instances are of, where a scene set has several
};

// The model and the clutter background. `error` is set when a photo is missing.
struct Photos {
    cv::Mat model;    // the box photo at half size, grey
    cv::Mat clutter;  // the building photo, grey
    std::string dir;
    std::string error;
};

// Reference point of a model image: its centre.
inline cv::Point2d model_centre(const cv::Mat& model) {
    return {(model.cols - 1) * 0.5, (model.rows - 1) * 0.5};
}

// The affine transform that puts the model's reference point at (x, y), rotated by `angle`
// degrees (counter-clockwise on screen) after scaling the model's rows by `scale` and its columns
// by `scale_col` (negative: `scale`) about it.
inline cv::Mat paste_transform(const cv::Mat& model, double x, double y, double angle,
                               double scale = 1.0, double scale_col = -1.0) {
    const cv::Point2d c = model_centre(model);
    if (scale_col < 0) scale_col = scale;
    const double a = angle * CV_PI / 180.0, co = std::cos(a), si = std::sin(a);
    // A model offset (u, v) from the centre lands at (co u' + si v', co v' - si u') from (x, y),
    // u' = scale_col u, v' = scale v.
    cv::Mat m = (cv::Mat_<double>(2, 3) << co * scale_col, si * scale, 0.0, -si * scale_col,
                 co * scale, 0.0);
    m.at<double>(0, 2) = x - (m.at<double>(0, 0) * c.x + m.at<double>(0, 1) * c.y);
    m.at<double>(1, 2) = y - (m.at<double>(1, 0) * c.x + m.at<double>(1, 1) * c.y);
    return m;
}

// A background of the requested size cut from the clutter photo at a random offset; the photo
// is mirrored at its borders where the scene is larger than it.
inline cv::Mat clutter_background(const cv::Mat& clutter, cv::Size size, std::mt19937& rng) {
    const int pad_x = std::max(0, size.width - clutter.cols);
    const int pad_y = std::max(0, size.height - clutter.rows);
    cv::Mat big;
    cv::copyMakeBorder(clutter, big, 0, pad_y, 0, pad_x, cv::BORDER_REFLECT_101);
    std::uniform_int_distribution<int> ox(0, big.cols - size.width), oy(0, big.rows - size.height);
    const int x0 = ox(rng);
    const int y0 = oy(rng);
    return big(cv::Rect(x0, y0, size.width, size.height)).clone();
}

// Random poses for `count` instances that lie wholly inside the scene and whose bounding circles
// (at the largest scale) do not touch. Scales are drawn uniformly from [scale_min, scale_max] when
// that range is not empty, after the angle (with `aniso` a row scale, then a column scale); an
// empty range draws nothing (scale 1), so the rigid sets stay as they were. Returns false when
// the scene has no room for them after many attempts.
inline bool random_poses(const cv::Mat& model, cv::Size size, int count, std::mt19937& rng,
                         std::vector<Pose>& out, double scale_min = 1.0, double scale_max = 1.0,
                         bool aniso = false) {
    const bool scaled = scale_max > scale_min;
    const double r = 0.5 * std::hypot(model.cols, model.rows) * (scaled ? scale_max : 1.0) + 2.0;
    if (2 * r >= size.width || 2 * r >= size.height) return false;
    std::uniform_real_distribution<double> ux(r, size.width - 1 - r), uy(r, size.height - 1 - r),
        ua(0.0, 360.0), us(scale_min, scale_max);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        out.clear();
        for (int tries = 0; tries < 2000 && static_cast<int>(out.size()) < count; ++tries) {
            Pose p{ux(rng), uy(rng), ua(rng)};
            if (scaled) p.scale = p.scale_col = us(rng);
            if (scaled && aniso) p.scale_col = us(rng);
            bool free = true;
            for (const Pose& q : out) free = free && std::hypot(p.x - q.x, p.y - q.y) > 2 * r;
            if (free) out.push_back(p);
        }
        if (static_cast<int>(out.size()) == count) return true;
    }
    return false;
}

// One scene: background, instances composited with bilinear coverage (anti-aliased borders),
// then Gaussian noise of sigma `noise` over everything.
inline Scene render_scene(const Photos& ph, cv::Size size, int instances, double noise,
                          std::mt19937& rng, double scale_min = 1.0, double scale_max = 1.0,
                          bool aniso = false) {
    Scene s;
    cv::Mat canvas;
    clutter_background(ph.clutter, size, rng).convertTo(canvas, CV_32F);
    if (!random_poses(ph.model, size, instances, rng, s.truth, scale_min, scale_max, aniso))
        return s;

    cv::Mat model_f, ones(ph.model.size(), CV_32F, cv::Scalar(1.0));
    ph.model.convertTo(model_f, CV_32F);
    for (const Pose& p : s.truth) {
        const cv::Mat m = paste_transform(ph.model, p.x, p.y, p.angle, p.scale, p.scale_col);
        cv::Mat warped, cover;
        cv::warpAffine(model_f, warped, m, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
        cv::warpAffine(ones, cover, m, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
        // warped already holds coverage * model, since the border outside the model is 0.
        canvas = canvas.mul(1.0 - cover) + warped;
    }
    cv::Mat n(size, CV_32F);
    cv::RNG cv_rng(rng());
    cv_rng.fill(n, cv::RNG::NORMAL, 0.0, noise);
    canvas += n;
    canvas.convertTo(s.image, CV_8U);  // rounds and saturates
    return s;
}

// Rendering parameters of one scene size.
struct SceneSpec {
    const char* label;
    int width;
    int height;
    int instances;  // per scene
    int scenes;
    unsigned seed;
    double scale_min = 1.0;  // instances drawn at uniform scales in [scale_min, scale_max]
    double scale_max = 1.0;
    bool aniso = false;  // row and column scales drawn apart
};

struct SceneSet {
    SceneSpec spec;
    std::vector<Scene> scenes;
    std::string error;

    int instance_count() const {
        int n = 0;
        for (const Scene& s : scenes) n += static_cast<int>(s.truth.size());
        return n;
    }
};

inline constexpr double kSceneNoise = 5.0;

inline SceneSet render_scene_set(const SceneSpec& spec, const Photos& ph) {
    SceneSet set{spec, {}, {}};
    if (!ph.error.empty()) {
        set.error = ph.error;
        return set;
    }
    std::mt19937 rng(spec.seed);
    for (int i = 0; i < spec.scenes; ++i) {
        Scene s = render_scene(ph, cv::Size(spec.width, spec.height), spec.instances, kSceneNoise,
                               rng, spec.scale_min, spec.scale_max, spec.aniso);
        if (static_cast<int>(s.truth.size()) != spec.instances) {
            set.error = std::string("no room for the instances in a ") + spec.label + " scene";
            return set;
        }
        set.scenes.push_back(std::move(s));
    }
    return set;
}

}  // namespace compare

#endif  // QURO_TESTING_COMPARE_SCENES_H
