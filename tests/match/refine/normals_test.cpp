#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "quro/cpu.h"
#include "quro/match/refine/normals.h"

namespace {

using quro::KernelPath;

cv::Mat random_level(int rows, int cols, unsigned seed) {
    cv::Mat level(rows, cols, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(level, cv::RNG::UNIFORM, 0, 256);
    return level;
}

// A smooth scene with strong and weak edges of every direction: a blurred disc and rectangle on a
// ramp, so that thresholds cut through the magnitudes rather than keeping everything.
cv::Mat scene_level(int rows, int cols) {
    cv::Mat level(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) level.at<uchar>(r, c) = static_cast<uchar>((r + 2 * c) % 97);
    cv::circle(level, {cols / 2, rows / 2}, std::min(rows, cols) / 3, cv::Scalar(220), cv::FILLED);
    cv::rectangle(level, {cols / 5, rows / 6}, {cols / 2, rows / 2}, cv::Scalar(30), cv::FILLED);
    cv::GaussianBlur(level, level, {5, 5}, 1.2);
    return level;
}

bool same_bits(const cv::Mat& a, const cv::Mat& b) {
    if (a.size() != b.size() || a.type() != b.type()) return false;
    for (int r = 0; r < a.rows; ++r)
        if (std::memcmp(a.ptr(r), b.ptr(r), a.cols * a.elemSize()) != 0) return false;
    return true;
}

bool avx2() { return quro::cpu_has_avx2(); }

// Checks the maps against OpenCV's Sobel gradient (replicated border) and a double-precision unit
// vector; the keep decision uses the single-precision magnitude of the definition.
void expect_matches_sobel(const cv::Mat& level, const cv::Mat& nx, const cv::Mat& ny,
                          float threshold, bool expect_edges = true) {
    cv::Mat gx, gy;
    cv::Sobel(level, gx, CV_32F, 1, 0, 3, 1.0, 0.0, cv::BORDER_REPLICATE);
    cv::Sobel(level, gy, CV_32F, 0, 1, 3, 1.0, 0.0, cv::BORDER_REPLICATE);
    ASSERT_EQ(nx.size(), level.size());
    ASSERT_EQ(ny.size(), level.size());
    int kept = 0;
    for (int r = 0; r < level.rows; ++r) {
        for (int c = 0; c < level.cols; ++c) {
            const double x = gx.at<float>(r, c), y = gy.at<float>(r, c);
            const float m = 0.25f * std::sqrt(static_cast<float>(x * x + y * y));
            if (m >= threshold && m > 0.f) {
                const double len = std::sqrt(x * x + y * y);
                ASSERT_NEAR(nx.at<float>(r, c), x / len, 2e-7) << r << "," << c;
                ASSERT_NEAR(ny.at<float>(r, c), y / len, 2e-7) << r << "," << c;
                ++kept;
            } else {
                ASSERT_EQ(nx.at<float>(r, c), 0.f) << r << "," << c;
                ASSERT_EQ(ny.at<float>(r, c), 0.f) << r << "," << c;
            }
        }
    }
    if (expect_edges) {
        EXPECT_GT(kept, 0);
    }
}

TEST(GradientNormals, UniformImageGivesZeroMaps) {
    const cv::Mat level(37, 41, CV_8UC1, cv::Scalar(123));
    for (KernelPath path : {KernelPath::scalar, KernelPath::vector}) {
        cv::Mat nx, ny;
        quro::compute_normals(level, nx, 1.f, ny, 0, path);
        EXPECT_EQ(cv::countNonZero(nx), 0);
        EXPECT_EQ(cv::countNonZero(ny), 0);
    }
}

TEST(GradientNormals, FlatPixelsStayZeroInsteadOfNaNWithThresholdZero) {
    cv::Mat level(20, 35, CV_8UC1, cv::Scalar(10));
    level.colRange(17, 35).setTo(200);
    for (KernelPath path : {KernelPath::scalar, KernelPath::vector}) {
        cv::Mat nx, ny;
        quro::compute_normals(level, nx, 0.f, ny, 0, path);
        EXPECT_TRUE(cv::checkRange(nx) && cv::checkRange(ny));  // no NaN anywhere
        EXPECT_EQ(nx.at<float>(5, 2), 0.f);
        EXPECT_EQ(nx.at<float>(5, 17), 1.f);
        quro::compute_normals(level, nx, -5.f, ny, 0, path);
        EXPECT_TRUE(cv::checkRange(nx) && cv::checkRange(ny));
    }
}

TEST(GradientNormals, VerticalStepGivesUnitXOnBothSidesUpToThreshold255) {
    cv::Mat level(12, 40, CV_8UC1, cv::Scalar(0));
    level.colRange(20, 40).setTo(255);
    cv::Mat nx, ny;
    quro::_getNormal33(level, nx, 255.f, ny);
    ASSERT_EQ(nx.type(), CV_32FC1);
    for (int r = 0; r < level.rows; ++r) {
        for (int c = 0; c < level.cols; ++c) {
            const bool beside = c == 19 || c == 20;
            EXPECT_EQ(nx.at<float>(r, c), beside ? 1.f : 0.f) << r << "," << c;
            EXPECT_EQ(ny.at<float>(r, c), 0.f) << r << "," << c;
        }
    }
    quro::_getNormal33(level, nx, 256.f, ny);
    EXPECT_EQ(cv::countNonZero(nx), 0);
    EXPECT_EQ(cv::countNonZero(ny), 0);
}

TEST(GradientNormals, MagnitudeEqualToThresholdKeepsTheNormal) {
    // A one-grey-level step of width 2 gives gx = 4 and m = 1 exactly on the columns beside it.
    cv::Mat level(9, 33, CV_8UC1, cv::Scalar(50));
    level.colRange(16, 33).setTo(51);
    for (KernelPath path : {KernelPath::scalar, KernelPath::vector}) {
        cv::Mat nx, ny;
        quro::compute_normals(level, nx, 1.f, ny, 0, path);
        EXPECT_EQ(nx.at<float>(4, 15), 1.f);
        EXPECT_EQ(nx.at<float>(4, 16), 1.f);
        quro::compute_normals(level, nx, std::nextafter(1.f, 2.f), ny, 0, path);
        EXPECT_EQ(cv::countNonZero(nx), 0);
    }
}

// Magnitudes that occur in the level, and their float neighbours: thresholds right on the edge of
// the keep decision.
std::vector<float> thresholds_at_magnitudes(const cv::Mat& level) {
    cv::Mat gx, gy;
    cv::Sobel(level, gx, CV_32F, 1, 0, 3, 1.0, 0.0, cv::BORDER_REPLICATE);
    cv::Sobel(level, gy, CV_32F, 0, 1, 3, 1.0, 0.0, cv::BORDER_REPLICATE);
    std::vector<float> out = {1.f, 6.5f, 40.f};
    for (int i = 0; i < 6; ++i) {
        const int r = (i * 7 + 3) % level.rows, c = (i * 13 + 5) % level.cols;
        const float x = gx.at<float>(r, c), y = gy.at<float>(r, c);
        const float m = 0.25f * std::sqrt(x * x + y * y);
        out.insert(out.end(), {m, std::nextafter(m, 0.f), std::nextafter(m, 1e9f)});
    }
    return out;
}

TEST(GradientNormals, AgreesWithSobelOnSmoothAndRandomImages) {
    const cv::Mat scene = scene_level(83, 131);
    const cv::Mat noise = random_level(29, 47, 7);
    for (KernelPath path : {KernelPath::scalar, KernelPath::vector}) {
        for (const cv::Mat* img : {&scene, &noise}) {
            for (float thr : thresholds_at_magnitudes(*img)) {
                cv::Mat nx, ny;
                quro::compute_normals(*img, nx, thr, ny, 0, path);
                expect_matches_sobel(*img, nx, ny, thr, thr < 40.f);
            }
        }
    }
}

TEST(GradientNormals, ExtremeThresholdsKeepEverythingOrNothing) {
    const cv::Mat level = random_level(20, 37, 2);
    for (KernelPath path : {KernelPath::scalar, KernelPath::vector}) {
        cv::Mat nx, ny;
        quro::compute_normals(level, nx, std::numeric_limits<float>::quiet_NaN(), ny, 0, path);
        EXPECT_EQ(cv::countNonZero(nx) + cv::countNonZero(ny), 0);
        quro::compute_normals(level, nx, std::numeric_limits<float>::infinity(), ny, 0, path);
        EXPECT_EQ(cv::countNonZero(nx) + cv::countNonZero(ny), 0);
        quro::compute_normals(level, nx, 255.f * std::sqrt(2.f) + 1e-3f, ny, 0, path);
        EXPECT_EQ(cv::countNonZero(nx) + cv::countNonZero(ny), 0);
        quro::compute_normals(level, nx, -std::numeric_limits<float>::infinity(), ny, 0, path);
        expect_matches_sobel(level, nx, ny, 0.f);
    }
    // The strongest gradient an 8-bit level can have (gx = 1020, gy = 510 at the centre): kept
    // at exactly its magnitude, cleared just above.
    const cv::Mat peak = (cv::Mat_<uchar>(3, 3) << 0, 0, 255, 0, 0, 255, 0, 255, 255);
    const float m = 0.25f * std::sqrt(1020.f * 1020.f + 510.f * 510.f);
    for (KernelPath path : {KernelPath::scalar, KernelPath::vector}) {
        cv::Mat nx, ny;
        quro::compute_normals(peak, nx, m, ny, 0, path);
        EXPECT_NEAR(nx.at<float>(1, 1), 2.0 / std::sqrt(5.0), 1e-7);
        EXPECT_NEAR(ny.at<float>(1, 1), 1.0 / std::sqrt(5.0), 1e-7);
        quro::compute_normals(peak, nx, std::nextafter(m, 1e9f), ny, 0, path);
        EXPECT_EQ(cv::countNonZero(nx) + cv::countNonZero(ny), 0);
    }
}

TEST(GradientNormals, FirstAndLastRowsUseReplicatedNeighbours) {
    // Only row 0 is dark: row 0 sees itself above and bright below; the last row likewise.
    cv::Mat level(16, 24, CV_8UC1, cv::Scalar(200));
    level.row(0).setTo(0);
    level.row(15).setTo(0);
    cv::Mat nx, ny;
    quro::_getNormal33(level, nx, 1.f, ny);
    for (int c = 0; c < level.cols; ++c) {
        EXPECT_EQ(ny.at<float>(0, c), 1.f) << c;
        EXPECT_EQ(ny.at<float>(15, c), -1.f) << c;
        EXPECT_EQ(nx.at<float>(0, c), 0.f) << c;
    }
    expect_matches_sobel(level, nx, ny, 1.f);
}

TEST(GradientNormals, ShortAndOddlyBandedLevelsMatchTheDefinition) {
    // Fewer than 8 rows (one band), one row, one column, and heights that split unevenly.
    for (cv::Size size : {cv::Size(50, 5), cv::Size(40, 1), cv::Size(1, 30), cv::Size(1, 1),
                          cv::Size(45, 7), cv::Size(70, 8 * 8 + 5), cv::Size(33, 203)}) {
        const cv::Mat level = random_level(size.height, size.width, 11 + size.area());
        for (KernelPath path : {KernelPath::scalar, KernelPath::vector}) {
            cv::Mat nx, ny;
            quro::compute_normals(level, nx, 3.f, ny, 0, path);
            expect_matches_sobel(level, nx, ny, 3.f, size.area() > 1);
        }
    }
}

TEST(GradientNormals, BorderVariantShiftsTheLevelInsideAZeroFrame) {
    // Edges touch all four image borders.
    cv::Mat level = random_level(21, 34, 3);
    level.row(0).setTo(255);
    level.col(33).setTo(0);
    cv::Mat plain_x, plain_y;
    quro::_getNormal33(level, plain_x, 2.f, plain_y);
    // Outputs that already have the right size, full of garbage: the frame must still end up 0.
    cv::Mat nx(27, 40, CV_32FC1, cv::Scalar(std::numeric_limits<float>::quiet_NaN()));
    cv::Mat ny(27, 40, CV_32FC1, cv::Scalar(7.f));
    const float* kept_buffer = nx.ptr<float>();
    quro::_getNormal34(level, nx, 2.f, ny, 3);
    ASSERT_EQ(nx.size(), cv::Size(40, 27));
    ASSERT_EQ(ny.size(), cv::Size(40, 27));
    EXPECT_EQ(nx.ptr<float>(), kept_buffer);
    const cv::Rect inner(3, 3, 34, 21);
    EXPECT_TRUE(same_bits(nx(inner).clone(), plain_x));
    EXPECT_TRUE(same_bits(ny(inner).clone(), plain_y));
    cv::Mat frame_x = nx.clone(), frame_y = ny.clone();
    frame_x(inner).setTo(0);
    frame_y(inner).setTo(0);
    EXPECT_TRUE(cv::checkRange(frame_x) && cv::checkRange(frame_y));
    EXPECT_EQ(cv::countNonZero(frame_x), 0);
    EXPECT_EQ(cv::countNonZero(frame_y), 0);
    EXPECT_GT(cv::countNonZero(nx.row(3)), 0);  // the level's first row has normals
}

TEST(GradientNormals, ReusedOutputsAreFullyOverwritten) {
    const cv::Mat level = scene_level(40, 57);
    cv::Mat fresh_x, fresh_y;
    quro::_getNormal33(level, fresh_x, 5.f, fresh_y);
    cv::Mat nx(40, 57, CV_32FC1, cv::Scalar(-3.f)), ny(40, 57, CV_32FC1, cv::Scalar(9.f));
    quro::_getNormal33(level, nx, 5.f, ny);
    EXPECT_TRUE(same_bits(nx, fresh_x));
    EXPECT_TRUE(same_bits(ny, fresh_y));
}

TEST(GradientNormals, VectorPathIsBitIdenticalToScalarPath) {
    if (!avx2()) GTEST_SKIP() << "processor without AVX2";
    for (int width : {15, 16, 17, 33, 64, 101}) {
        for (int height : {3, 9, 40}) {
            const cv::Mat level = random_level(height, width, width * 131 + height);
            const cv::Mat smooth = scene_level(height, width);
            for (int border : {0, 2}) {
                for (float thr : {0.f, 1.f, 17.25f, 120.f}) {
                    for (const cv::Mat* img : {&level, &smooth}) {
                        cv::Mat sx, sy, vx, vy;
                        quro::compute_normals(*img, sx, thr, sy, border, KernelPath::scalar);
                        quro::compute_normals(*img, vx, thr, vy, border, KernelPath::vector);
                        ASSERT_TRUE(same_bits(sx, vx)) << width << "x" << height << " b" << border;
                        ASSERT_TRUE(same_bits(sy, vy)) << width << "x" << height << " b" << border;
                    }
                }
            }
        }
    }
}

TEST(GradientNormals, LevelViewsWithPaddedRowsAreRead) {
    const cv::Mat big = scene_level(60, 90);
    const cv::Mat view = big(cv::Rect(7, 5, 50, 31));
    ASSERT_FALSE(view.isContinuous());
    cv::Mat nx, ny, cx, cy;
    quro::_getNormal33(view, nx, 4.f, ny);
    quro::_getNormal33(view.clone(), cx, 4.f, cy);
    EXPECT_TRUE(same_bits(nx, cx));
    EXPECT_TRUE(same_bits(ny, cy));
}

TEST(GradientNormals, EmptyLevelGivesZeroMapsOfTheFramedSize) {
    cv::Mat nx, ny;
    quro::_getNormal33(cv::Mat(), nx, 1.f, ny);
    EXPECT_TRUE(nx.empty());
    EXPECT_TRUE(ny.empty());
    quro::_getNormal34(cv::Mat(), nx, 1.f, ny, 2);
    ASSERT_EQ(nx.size(), cv::Size(4, 4));
    EXPECT_EQ(nx.type(), CV_32FC1);
    EXPECT_EQ(cv::countNonZero(nx), 0);
    EXPECT_EQ(cv::countNonZero(ny), 0);
    quro::_getNormal34(cv::Mat(0, 5, CV_8UC1), nx, 1.f, ny, 1);
    ASSERT_EQ(nx.size(), cv::Size(7, 2));
    EXPECT_EQ(cv::countNonZero(nx), 0);
}

TEST(GradientNormals, RejectsOtherPixelTypesAndNegativeBorders) {
    cv::Mat nx, ny;
    EXPECT_THROW(quro::_getNormal33(cv::Mat(10, 10, CV_16UC1, cv::Scalar(1)), nx, 1.f, ny),
                 cv::Exception);
    EXPECT_THROW(quro::_getNormal33(cv::Mat(10, 10, CV_8UC3, cv::Scalar(1)), nx, 1.f, ny),
                 cv::Exception);
    EXPECT_THROW(quro::_getNormal34(cv::Mat(10, 10, CV_8UC1, cv::Scalar(1)), nx, 1.f, ny, -1),
                 cv::Exception);
}

TEST(MaskClearing, ZeroMaskPixelClearsOnlyItsOffsetPosition) {
    const int off = 2;
    cv::Mat nx(14, 19, CV_32FC1, cv::Scalar(0.6f)), ny(14, 19, CV_32FC1, cv::Scalar(-0.8f));
    cv::Mat mask(10, 15, CV_8UC1, cv::Scalar(255));
    mask.at<uchar>(4, 7) = 0;
    mask.at<uchar>(0, 0) = 0;
    mask.at<uchar>(9, 14) = 0;
    mask.at<uchar>(6, 3) = 1;
    quro::_setNxNyZero(mask, nx, ny, off);
    for (int r = 0; r < nx.rows; ++r) {
        for (int c = 0; c < nx.cols; ++c) {
            const int mr = r - off, mc = c - off;
            const bool cleared = mr >= 0 && mc >= 0 && mr < mask.rows && mc < mask.cols &&
                                 mask.at<uchar>(mr, mc) == 0;
            EXPECT_EQ(nx.at<float>(r, c), cleared ? 0.f : 0.6f) << r << "," << c;
            EXPECT_EQ(ny.at<float>(r, c), cleared ? 0.f : -0.8f) << r << "," << c;
        }
    }
}

TEST(MaskClearing, MasksLargerThanTheMapsAreClippedToTheInnerArea) {
    const int off = 3;
    cv::Mat nx(12, 12, CV_32FC1, cv::Scalar(1.f)), ny(12, 12, CV_32FC1, cv::Scalar(1.f));
    const cv::Mat mask(40, 40, CV_8UC1, cv::Scalar(0));
    quro::_setNxNyZero(mask, nx, ny, off);
    // Only the 6 x 6 inner area (maps minus twice the offset) is cleared; the frame is not touched.
    EXPECT_EQ(cv::countNonZero(nx), 144 - 36);
    EXPECT_EQ(cv::countNonZero(nx(cv::Rect(3, 3, 6, 6))), 0);
    EXPECT_EQ(cv::countNonZero(ny), 144 - 36);
    // An offset that leaves no inner area writes nothing.
    quro::_setNxNyZero(mask, nx, ny, 6);
    quro::_setNxNyZero(mask, nx, ny, 1 << 30);
    EXPECT_EQ(cv::countNonZero(nx), 144 - 36);
    quro::_setNxNyZero(cv::Mat(), nx, ny, 0);
    EXPECT_EQ(cv::countNonZero(nx), 144 - 36);
}

TEST(MaskClearing, RejectsMismatchedMapsAndNegativeOffsets) {
    cv::Mat nx(8, 8, CV_32FC1, cv::Scalar(1.f)), ny(8, 9, CV_32FC1, cv::Scalar(1.f));
    const cv::Mat mask(8, 8, CV_8UC1, cv::Scalar(0));
    EXPECT_THROW(quro::_setNxNyZero(mask, nx, ny, 0), cv::Exception);
    cv::Mat same(8, 8, CV_32FC1, cv::Scalar(1.f));
    EXPECT_THROW(quro::_setNxNyZero(mask, nx, same, -1), cv::Exception);
    EXPECT_THROW(quro::_setNxNyZero(cv::Mat(8, 8, CV_32FC1), nx, same, 0), cv::Exception);
    EXPECT_EQ(cv::countNonZero(nx), 64);
}

}  // namespace
