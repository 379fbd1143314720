// Test scene of the refinement benchmarks: a 640 x 480 image with twelve rendered instances of an
// irregular hexagon (90 pixels across) at random angles and sub-pixel positions, on a 4 x 3 grid
// of 160-pixel tiles, and the two-level shape model of that hexagon.
#ifndef QURO_TESTING_POLYGON_SCENE_H
#define QURO_TESTING_POLYGON_SCENE_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/model_table.h"
#include "testing/polygon_model.h"

namespace quro_test {

struct PolygonScene {
    quro::ShapeModelRecord rec;  // angle range: all angles
    cv::Mat image;
    std::vector<PolygonPose> poses;  // full-resolution poses of the instances
};

inline const PolygonScene& polygon_scene() {
    static const PolygonScene s = [] {
        PolygonScene s;
        const auto outline = irregular_outline(90.f);
        s.rec = polygon_model(outline, 2);
        s.rec.angle_start = -180.f;
        s.rec.angle_extent = 360.f;
        s.image = cv::Mat(480, 640, CV_8UC1);
        cv::RNG rng(11);
        for (int ty = 0; ty < 3; ++ty) {
            for (int tx = 0; tx < 4; ++tx) {
                const PolygonPose local{79.5f + rng.uniform(-0.5f, 0.5f),
                                                   79.5f + rng.uniform(-0.5f, 0.5f),
                                                   rng.uniform(-180.f, 180.f), 1.f, 1.f};
                render_polygon(outline, cv::Size(160, 160), local)
                    .copyTo(s.image(cv::Rect(160 * tx, 160 * ty, 160, 160)));
                s.poses.push_back({local.cx + 160.f * tx, local.cy + 160.f * ty, local.angle});
            }
        }
        return s;
    }();
    return s;
}

}  // namespace quro_test

#endif  // QURO_TESTING_POLYGON_SCENE_H
