// A very large scene for the tiled search: an 8192 x 8192 image with 100 instances of the
// machined part (testing/part_scene.h), 32 of them placed across the seams of a 4 x 4 grid of
// 2048 x 2048 quarters, on a background of grey 60 with 600 bars and discs of clutter (never on an
// instance) and noise sigma 2; the quarters copied out, and the part's model created.
#ifndef QURO_TESTING_TILED_SCENE_H
#define QURO_TESTING_TILED_SCENE_H

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "quro/quro.h"
#include "testing/compare_scenes.h"
#include "testing/part_scene.h"

namespace quro_test {

struct TiledScene {
    cv::Mat image;
    std::vector<compare::Pose> truth;
    std::vector<cv::Mat> quarters;  // row-major 4 x 4
    int model = -1;
};

inline constexpr int kTiledSide = 8192, kTiledQuarter = 2048, kTiledInstances = 100,
                     kTiledOnSeams = 32;

// Pastes one part rendered on its own patch (the background of the patch is the scene's).
inline void paste_tiled_part(cv::Mat& image, const compare::Pose& p) {
    constexpr int kPatch = 160;
    const int x0 = static_cast<int>(std::floor(p.x)) - kPatch / 2,
              y0 = static_cast<int>(std::floor(p.y)) - kPatch / 2;
    const cv::Mat patch = render_part_scene(
        {kPatch, kPatch}, {{p.x - x0, p.y - y0, p.angle}}, {}, 60, 170, 30);
    patch.copyTo(image(cv::Rect(x0, y0, kPatch, kPatch)));
}

inline TiledScene render_tiled_scene() {
    TiledScene s;
    const cv::Mat model = render_part_model({112, 84});
    const ContrastParams contrast{10, 30, 10, 10};
    create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1, &contrast,
                       nullptr, &s.model);
    s.image = cv::Mat(kTiledSide, kTiledSide, CV_8U, cv::Scalar(60));
    std::mt19937 rng(20250801u);
    std::uniform_real_distribution<double> any(150.0, kTiledSide - 150.0), across(-30.0, 30.0),
        angle(0.0, 360.0);
    std::uniform_int_distribution<int> seam(1, kTiledSide / kTiledQuarter - 1);
    while (static_cast<int>(s.truth.size()) < kTiledInstances) {
        compare::Pose p{any(rng), any(rng), angle(rng)};
        const int k = static_cast<int>(s.truth.size());
        if (k < kTiledOnSeams / 2)
            p.x = seam(rng) * kTiledQuarter + across(rng);
        else if (k < kTiledOnSeams)
            p.y = seam(rng) * kTiledQuarter + across(rng);
        bool apart = true;
        for (const compare::Pose& q : s.truth)
            apart = apart && std::hypot(p.x - q.x, p.y - q.y) > 130.0;
        if (apart) s.truth.push_back(p);
    }
    for (int i = 0; i < 600; ++i) {
        const cv::Point c(static_cast<int>(any(rng)), static_cast<int>(any(rng)));
        bool clear = true;
        for (const compare::Pose& q : s.truth)
            clear = clear && std::hypot(c.x - q.x, c.y - q.y) > 110.0;
        if (!clear) continue;
        const cv::Scalar grey(30 + static_cast<int>(rng() % 150));
        if (i % 2)
            cv::circle(s.image, c, 3 + static_cast<int>(rng() % 8), grey, cv::FILLED, cv::LINE_AA);
        else
            cv::line(s.image, c, c + cv::Point(10, 4), grey, 2, cv::LINE_AA);
    }
    for (const compare::Pose& p : s.truth) paste_tiled_part(s.image, p);
    cv::RNG noise(7);
    for (int y = 0; y < kTiledSide;
         y += 512) {  // in bands: one float copy of the whole would be 256 MiB
        cv::Mat band = s.image.rowRange(y, y + 512), f, n(band.size(), CV_32F);
        band.convertTo(f, CV_32F);
        noise.fill(n, cv::RNG::NORMAL, 0.0, 2.0);
        f += n;
        f.convertTo(band, CV_8U);
    }
    for (int qy = 0; qy < kTiledSide; qy += kTiledQuarter)
        for (int qx = 0; qx < kTiledSide; qx += kTiledQuarter)
            s.quarters.push_back(s.image(cv::Rect(qx, qy, kTiledQuarter, kTiledQuarter)).clone());
    return s;
}

}  // namespace quro_test

#endif  // QURO_TESTING_TILED_SCENE_H
