// Test scene of the matching benchmarks: a grey image with edges in every direction (random
// 8 x 8 blocks, blurred).
#ifndef QURO_TESTING_CLUTTER_SCENE_H
#define QURO_TESTING_CLUTTER_SCENE_H

#include <opencv2/imgproc.hpp>

namespace quro_test {

inline cv::Mat clutter_scene(int width, int height) {
    cv::Mat small(height / 8 + 1, width / 8 + 1, CV_8UC1);
    cv::RNG rng(42);
    rng.fill(small, cv::RNG::UNIFORM, 0, 256);
    cv::Mat img;
    cv::resize(small, img, cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
    cv::GaussianBlur(img, img, cv::Size(5, 5), 1.5);
    return img;
}

}  // namespace quro_test

#endif  // QURO_TESTING_CLUTTER_SCENE_H
