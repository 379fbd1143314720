// The image the region benchmarks share: 4096 x 3072 smooth blobs (uniform noise from seed
// 12345, Gaussian blur sigma 4, stretched to 0..255). Its 128..255 region holds about 365k runs.
// Beside it, the wall-clock helper the benchmarks time their OpenCV yardsticks with.
#ifndef QURO_TESTING_REGION_BLOBS_H
#define QURO_TESTING_REGION_BLOBS_H

#include <chrono>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace quro_test {

// Smooth blobs of any size, made the same way (about 0.029 runs per pixel at 128..255).
inline cv::Mat make_blob_image(int width, int height) {
    cv::Mat m(height, width, CV_8UC1);
    cv::RNG(12345).fill(m, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(m, m, {0, 0}, 4);
    cv::normalize(m, m, 0, 255, cv::NORM_MINMAX);
    return m;
}

inline const cv::Mat& blob_image() {
    static const cv::Mat img = make_blob_image(4096, 3072);
    return img;
}

inline double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace quro_test

#endif  // QURO_TESTING_REGION_BLOBS_H
