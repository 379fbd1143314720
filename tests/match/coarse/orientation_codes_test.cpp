#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "quro/cpu.h"
#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/coarse/orientation_kernels.h"

namespace {

// Bin of (gx, gy) from its angle in double precision: nearest multiple of 22.5 degrees, measured
// from +y towards +x. Also returns how far (degrees) the angle lies from the nearest bin boundary.
int reference_bin(int gx, int gy, double* boundary_distance) {
    double a = std::atan2(static_cast<double>(gx), static_cast<double>(gy)) * 180.0 / M_PI;
    if (a < 0) a += 360.0;
    const double u = a / 22.5 + 0.5;
    *boundary_distance = std::fabs(u - std::round(u)) * 22.5;
    return static_cast<int>(std::floor(u)) % 16;
}

cv::Mat random_image(int rows, int cols, unsigned seed) {
    cv::Mat img(rows, cols, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(img, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(img, img, cv::Size(5, 5), 1.2);  // smooth edges of every direction
    return img;
}

TEST(OrientationBin, AxisDirectionsAndZero) {
    EXPECT_EQ(quro::orientation_bin16(0, 5), 0);
    EXPECT_EQ(quro::orientation_bin16(5, 0), 4);
    EXPECT_EQ(quro::orientation_bin16(0, -5), 8);
    EXPECT_EQ(quro::orientation_bin16(-5, 0), 12);
    EXPECT_EQ(quro::orientation_bin16(0, 0), 4);
}

TEST(OrientationBin, BoundaryValuesGoToTheHigherStep) {
    // 4096 * 815 == 815 * 4096: on the first boundary, so f = 1 (not 0).
    EXPECT_EQ(quro::orientation_bin16(815, 4096), 1);
    EXPECT_EQ(quro::orientation_bin16(814, 4096), 0);
    // 4096 * 171 == 256 * 2736: on the second boundary, f = 2.
    EXPECT_EQ(quro::orientation_bin16(171, 256), 2);
    EXPECT_EQ(quro::orientation_bin16(170, 256), 1);
    // The same boundary in the other quadrants.
    EXPECT_EQ(quro::orientation_bin16(171, -256), 6);
    EXPECT_EQ(quro::orientation_bin16(-171, -256), 10);
    EXPECT_EQ(quro::orientation_bin16(-171, 256), 14);
}

TEST(OrientationBin, LastBoundaryLiesAt78_75DegreesNotAt78) {
    // 4096 * tan 78.75 = 20591.98; a boundary constant of 19267 would put it at 78.0 degrees.
    EXPECT_EQ(quro::orientation_bin16(20592, 4096), 4);
    EXPECT_EQ(quro::orientation_bin16(20591, 4096), 3);
    EXPECT_EQ(quro::orientation_bin16(487, 100), 3);    // 78.4 degrees from the row axis
    EXPECT_EQ(quro::orientation_bin16(487, -100), 5);
    EXPECT_EQ(quro::orientation_bin16(-487, -100), 11);
    EXPECT_EQ(quro::orientation_bin16(-487, 100), 13);
}

TEST(OrientationBin, AgreesWithTheAngleAwayFromBoundaries) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> g(-1020, 1020);
    int compared = 0;
    for (int i = 0; i < 200000; ++i) {
        const int gx = g(gen), gy = g(gen);
        if (gx == 0 && gy == 0) continue;
        double dist = 0;
        const int expected = reference_bin(gx, gy, &dist);
        if (dist < 0.03) continue;  // fixed-point boundaries differ from tan by < 0.03 degrees
        ASSERT_EQ(quro::orientation_bin16(gx, gy), expected) << gx << "," << gy;
        ++compared;
    }
    EXPECT_GT(compared, 190000);
}

TEST(OrientationCode, ThresholdIsStrict) {
    // min_contrast 1 gives 16; magnitude^2 16 is not coded, 17 is. (17 never comes from a 3x3
    // Sobel of an image, whose gx and gy have equal parity; the image test uses 16 and 18.)
    ASSERT_EQ(quro::orientation_threshold(1.f), 16);
    EXPECT_EQ(quro::orientation_code(4, 0, 16), 0);
    EXPECT_EQ(quro::orientation_code(4, 1, 16), quro::orientation_bin16(4, 1) + 1);
    EXPECT_EQ(quro::orientation_code(0, 0, 0), 0);
    EXPECT_EQ(quro::orientation_code(0, -1, 0), 9);
}

// Rows of pixels that put gradients on exact bin boundaries, e.g. (342, 512) with
// 4096 * 342 == 2736 * 512, at varying columns so that they land in every vector lane.
cv::Mat boundary_rows(int cols, unsigned seed) {
    cv::Mat img(3, cols, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(img, cv::RNG::UNIFORM, 0, 256);
    for (int c = 1; c + 1 < cols; c += 5 + (c % 3)) {
        // up (0, 0, 0), mid (0, *, 44), down (0, 129, 254): gx = 342, gy = 512.
        const std::uint8_t up[3] = {0, 0, 0}, mid[3] = {0, 77, 44}, down[3] = {0, 129, 254};
        const bool flip_x = c % 2 == 0, flip_y = c % 4 < 2;
        for (int k = 0; k < 3; ++k) {
            const int col = flip_x ? c + 1 - k : c - 1 + k;
            img.at<std::uint8_t>(0, col) = flip_y ? down[k] : up[k];
            img.at<std::uint8_t>(1, col) = mid[k];
            img.at<std::uint8_t>(2, col) = flip_y ? up[k] : down[k];
        }
    }
    return img;
}

TEST(OrientationCodeRow, VectorKernelWritesTheSameBytes) {
    if (!quro::cpu_has_avx2()) GTEST_SKIP() << "AVX2 not available (or disabled through OPENCV_CPU_DISABLE)";
    for (int cols : {3, 4, 33, 34, 35, 66, 1000, 4099}) {
        for (unsigned seed : {1u, 2u}) {
            const cv::Mat img = boundary_rows(cols, seed);
            const auto n = static_cast<std::size_t>(cols - 2);
            for (int threshold : {0, 16, 17, 400, INT_MAX}) {
                std::vector<std::uint8_t> a(n, 7), b(n, 9);
                quro::code_row_scalar(img.ptr(0), img.ptr(1), img.ptr(2), a.data(), n, threshold);
                quro::code_row_avx2(img.ptr(0), img.ptr(1), img.ptr(2), b.data(), n, threshold);
                ASSERT_EQ(a, b) << "cols=" << cols << " threshold=" << threshold;
            }
        }
    }
}

TEST(OrientationCodeRow, BoundaryRowsHitTheBoundary) {
    // The fixture above must really produce the tie it is meant to test.
    const cv::Mat img = boundary_rows(40, 3);
    cv::Mat gx, gy;
    cv::Sobel(img, gx, CV_16S, 1, 0, 3);
    cv::Sobel(img, gy, CV_16S, 0, 1, 3);
    EXPECT_EQ(std::abs(gx.at<short>(1, 1)), 342);
    EXPECT_EQ(std::abs(gy.at<short>(1, 1)), 512);
    EXPECT_EQ(quro::orientation_bin16(342, 512), 2);
}

TEST(OrientationThreshold, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(quro::orientation_threshold(0.f), 0);
    EXPECT_EQ(quro::orientation_threshold(10.f), 1600);
    EXPECT_EQ(quro::orientation_threshold(1.5f), 36);
    EXPECT_EQ(quro::orientation_threshold(1e5f), INT_MAX);
    EXPECT_EQ(quro::orientation_threshold(std::numeric_limits<float>::infinity()), INT_MAX);
    EXPECT_EQ(quro::orientation_threshold(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(OrientationBorder, IsRadiusPlusOneAndAHalfTruncated) {
    EXPECT_EQ(quro::orientation_border(10.4f), 11);
    EXPECT_EQ(quro::orientation_border(10.5f), 12);
    EXPECT_EQ(quro::orientation_border(0.f), 1);
    EXPECT_EQ(quro::orientation_border(-7.f), 0);
    EXPECT_EQ(quro::orientation_border(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(quro::orientation_border(1e20f), quro::kMaxOrientationBorder);
}

// A 3 x 3 level whose centre pixel has exactly the given neighbourhood.
cv::Mat patch(std::initializer_list<std::uint8_t> v) {
    return cv::Mat(3, 3, CV_8UC1, const_cast<std::uint8_t*>(std::data(v))).clone();
}

TEST(OrientationCodes, ImageThresholdIsStrict) {
    const cv::Mat weak = patch({0, 0, 0, 0, 0, 2, 0, 0, 0});    // gx 4, gy 0: 16
    const cv::Mat strong = patch({0, 0, 0, 0, 0, 1, 0, 1, 1});  // gx 3, gy 3: 18
    cv::Mat gx, gy;
    cv::Sobel(weak, gx, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_REPLICATE);
    cv::Sobel(weak, gy, CV_16S, 0, 1, 3, 1, 0, cv::BORDER_REPLICATE);
    ASSERT_EQ(gx.at<short>(1, 1), 4);
    ASSERT_EQ(gy.at<short>(1, 1), 0);
    cv::Mat codes;
    quro::quantizedOrientations16(weak, codes, 1.f, 0.f);
    EXPECT_EQ(cv::countNonZero(codes), 0);
    quro::quantizedOrientations16(weak, codes, 0.99f, 0.f);  // T = 15
    EXPECT_EQ(codes.at<std::uint8_t>(2, 2), 5);
    quro::quantizedOrientations16(strong, codes, 1.f, 0.f);
    EXPECT_EQ(codes.at<std::uint8_t>(2, 2), quro::orientation_bin16(3, 3) + 1);
    EXPECT_EQ(cv::countNonZero(codes), 1);
}

TEST(OrientationCodes, AxisGradientsGiveTheirCodes) {
    // Step edges: bright right, bright left, bright below, bright above.
    struct Case { int dx, dy; int code; };
    for (const Case& c : {Case{1, 0, 5}, Case{-1, 0, 13}, Case{0, 1, 1}, Case{0, -1, 9}}) {
        cv::Mat level(9, 9, CV_8UC1);
        for (int r = 0; r < 9; ++r) {
            for (int col = 0; col < 9; ++col) {
                const int t = c.dx * (col - 4) + c.dy * (r - 4);
                level.at<std::uint8_t>(r, col) = t > 0 ? 200 : 50;
            }
        }
        cv::Mat codes;
        quro::quantizedOrientations16(level, codes, 10.f, 0.f);
        // The pixels next to the step, away from the outer frame, carry the code.
        EXPECT_EQ(codes.at<std::uint8_t>(1 + 4, 1 + 4), c.code) << c.dx << "," << c.dy;
        int coded = 0;
        for (auto it = codes.begin<std::uint8_t>(); it != codes.end<std::uint8_t>(); ++it) {
            if (*it) { EXPECT_EQ(*it, c.code); ++coded; }
        }
        EXPECT_EQ(coded, 2 * 7);  // two lines of inner pixels next to the step
    }
}

TEST(OrientationCodes, BorderShiftsEveryCode) {
    const cv::Mat level = random_image(40, 50, 3);
    cv::Mat framed, bare;
    quro::quantizedOrientations16(level, framed, 2.f, 10.4f);
    quro::quantizedOrientations16(level, bare, 2.f, -1.5f);  // border 0
    ASSERT_EQ(framed.rows, 40 + 22);
    ASSERT_EQ(framed.cols, 50 + 22);
    ASSERT_EQ(bare.size(), level.size());
    EXPECT_EQ(cv::norm(framed(cv::Rect(11, 11, 50, 40)), bare, cv::NORM_INF), 0);
    EXPECT_EQ(cv::countNonZero(framed), cv::countNonZero(bare));
    EXPECT_TRUE(framed.isContinuous());
}

TEST(OrientationCodes, MatchPlainReferenceOnRandomImage) {
    const cv::Mat level = random_image(67, 93, 5);
    const float mc = 3.f;
    cv::Mat codes;
    quro::quantizedOrientations16(level, codes, mc, 4.2f);
    const int b = 5;
    cv::Mat gx, gy;
    cv::Sobel(level, gx, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_REPLICATE);
    cv::Sobel(level, gy, CV_16S, 0, 1, 3, 1, 0, cv::BORDER_REPLICATE);
    int coded = 0;
    for (int r = 0; r < codes.rows; ++r) {
        for (int c = 0; c < codes.cols; ++c) {
            const int lr = r - b, lc = c - b;
            const std::uint8_t got = codes.at<std::uint8_t>(r, c);
            if (lr < 1 || lc < 1 || lr > level.rows - 2 || lc > level.cols - 2) {
                ASSERT_EQ(got, 0) << r << "," << c;
                continue;
            }
            const int x = gx.at<short>(lr, lc), y = gy.at<short>(lr, lc);
            if (x * x + y * y <= 144) {
                ASSERT_EQ(got, 0);
                continue;
            }
            double dist = 0;
            const int expected = reference_bin(x, y, &dist);
            if (dist > 0.03) {
                ASSERT_EQ(got, expected + 1) << r << "," << c;
                ++coded;
            }
        }
    }
    EXPECT_GT(coded, 1000);
}

TEST(OrientationCodes, VectorAndScalarPathsAgree) {
    for (const cv::Size sz : {cv::Size(33, 20), cv::Size(130, 64), cv::Size(641, 77)}) {
        const cv::Mat level = random_image(sz.height, sz.width, 9);
        cv::Mat a, b;
        quro::quantize_orientations_with(level, a, 1.f, 7.3f, quro::KernelPath::scalar);
        quro::quantize_orientations_with(level, b, 1.f, 7.3f, quro::KernelPath::vector);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_EQ(cv::norm(a, b, cv::NORM_INF), 0) << sz;
        EXPECT_GT(cv::countNonZero(a), 0);
    }
}

TEST(OrientationCodes, TinyOrEmptyLevelsGiveAllZero) {
    cv::Mat codes;
    const cv::Mat two_rows(2, 20, CV_8UC1, cv::Scalar(0));
    cv::Mat noisy = two_rows.clone();
    cv::randu(noisy, 0, 256);
    quro::quantizedOrientations16(noisy, codes, 1.f, 3.f);
    EXPECT_EQ(codes.rows, 2 + 8);
    EXPECT_EQ(codes.cols, 20 + 8);
    EXPECT_EQ(cv::countNonZero(codes), 0);

    cv::Mat two_cols(30, 2, CV_8UC1);
    cv::randu(two_cols, 0, 256);
    quro::quantizedOrientations16(two_cols, codes, 1.f, 3.f);
    EXPECT_EQ(codes.size(), cv::Size(2 + 8, 30 + 8));
    EXPECT_EQ(cv::countNonZero(codes), 0);

    quro::quantizedOrientations16(cv::Mat(), codes, 1.f, 3.f);
    EXPECT_EQ(codes.size(), cv::Size(8, 8));
    EXPECT_EQ(codes.type(), CV_8UC1);
    EXPECT_EQ(cv::countNonZero(codes), 0);
}

TEST(OrientationCodes, HugeMinContrastCodesNothing) {
    const cv::Mat level = random_image(40, 40, 1);
    cv::Mat codes;
    for (float mc : {1e5f, 3e9f, std::numeric_limits<float>::infinity()}) {
        quro::quantizedOrientations16(level, codes, mc, 2.f);
        EXPECT_EQ(cv::countNonZero(codes), 0) << mc;
    }
}

TEST(OrientationCodes, OutputMayReplaceTheLevel) {
    cv::Mat level = random_image(30, 40, 2);
    cv::Mat expected;
    quro::quantizedOrientations16(level, expected, 1.f, 2.f);
    quro::quantizedOrientations16(level, level, 1.f, 2.f);
    EXPECT_EQ(cv::norm(level, expected, cv::NORM_INF), 0);
}

TEST(OrientationCodes, RejectsOtherImageTypes) {
    cv::Mat codes;
    EXPECT_THROW(quro::quantizedOrientations16(cv::Mat(10, 10, CV_16UC1, cv::Scalar(0)), codes,
                                               1.f, 1.f),
                 cv::Exception);
    EXPECT_THROW(quro::quantizedOrientations16(cv::Mat(10, 10, CV_8UC3, cv::Scalar(0)), codes,
                                               1.f, 1.f),
                 cv::Exception);
}

}  // namespace
