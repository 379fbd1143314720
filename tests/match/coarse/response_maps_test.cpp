#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/match/core_tables.h"
#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/coarse/response_maps.h"

namespace {

// A codes image holding every code 0..16 and some random ones.
cv::Mat sample_codes(int rows, int cols, unsigned seed) {
    cv::Mat codes(rows, cols, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(codes, cv::RNG::UNIFORM, 0, 17);
    for (int i = 0; i < 17 && i < codes.cols; ++i) codes.at<std::uint8_t>(0, i) = static_cast<std::uint8_t>(i);
    return codes;
}

// Plain reference: every map entry from the table, 0 where the code is 0.
void expect_maps_follow_table(const cv::Mat& codes, const std::vector<cv::Mat>& maps, bool abs) {
    ASSERT_EQ(maps.size(), 16u);
    const auto& sim = quro::core_tables().similarity;
    for (int k = 0; k < 16; ++k) {
        const cv::Mat& m = maps[static_cast<std::size_t>(k)];
        ASSERT_EQ(m.type(), CV_8SC1);
        ASSERT_EQ(m.size(), codes.size());
        ASSERT_TRUE(m.isContinuous());
        for (int r = 0; r < codes.rows; ++r) {
            for (int c = 0; c < codes.cols; ++c) {
                const int code = codes.at<std::uint8_t>(r, c);
                int expected = code == 0 ? 0 : sim[k][code - 1];
                if (abs) expected = std::abs(expected);
                ASSERT_EQ(m.at<std::int8_t>(r, c), expected) << k << " " << r << "," << c;
            }
        }
    }
}

TEST(ResponseMaps, SignedAndAbsoluteFollowTheTable) {
    const cv::Mat codes = sample_codes(23, 77, 1);
    std::vector<cv::Mat> maps;
    quro::computeResponseMaps16(codes, maps);
    expect_maps_follow_table(codes, maps, false);
    quro::computeResponseMaps16Abs(codes, maps);
    expect_maps_follow_table(codes, maps, true);
}

TEST(ResponseMaps, OppositeAndDistantDirections) {
    // Code 1 is direction 0; map 8 (opposite) and map 6 (distance 6).
    cv::Mat codes(1, 3, CV_8UC1);
    codes.at<std::uint8_t>(0, 0) = 1;
    codes.at<std::uint8_t>(0, 1) = 0;
    codes.at<std::uint8_t>(0, 2) = 16;  // direction 15: distance 8 from map 7
    std::vector<cv::Mat> s, a;
    quro::computeResponseMaps16(codes, s);
    quro::computeResponseMaps16Abs(codes, a);
    EXPECT_EQ(s[8].at<std::int8_t>(0, 0), -4);
    EXPECT_EQ(a[8].at<std::int8_t>(0, 0), 4);
    EXPECT_EQ(s[6].at<std::int8_t>(0, 0), -1);
    EXPECT_EQ(a[6].at<std::int8_t>(0, 0), 1);
    EXPECT_EQ(s[0].at<std::int8_t>(0, 0), 4);
    EXPECT_EQ(s[7].at<std::int8_t>(0, 2), -4);
    EXPECT_EQ(a[7].at<std::int8_t>(0, 2), 4);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(s[static_cast<std::size_t>(k)].at<std::int8_t>(0, 1), 0);
        EXPECT_EQ(a[static_cast<std::size_t>(k)].at<std::int8_t>(0, 1), 0);
    }
}

TEST(ResponseMaps, VectorAndScalarBuildersAreByteIdentical) {
    cv::Mat level(301, 389, CV_8UC1);
    cv::randu(level, 0, 256);
    cv::GaussianBlur(level, level, cv::Size(5, 5), 1.0);
    cv::Mat codes;
    quro::quantizedOrientations16(level, codes, 2.f, 6.f);
    // Random bytes as well, including values the quantiser never writes.
    cv::Mat bytes(57, 101, CV_8UC1);
    cv::randu(bytes, 0, 256);
    for (const cv::Mat& c : {codes, bytes, cv::Mat(bytes, cv::Rect(3, 2, 70, 40))}) {
        for (bool abs : {false, true}) {
            std::vector<cv::Mat> one, vec;
            quro::response_maps_with(c, one, abs, quro::KernelPath::scalar);
            quro::response_maps_with(c, vec, abs, quro::KernelPath::vector);
            ASSERT_EQ(one.size(), 16u);
            ASSERT_EQ(vec.size(), 16u);
            for (std::size_t k = 0; k < 16; ++k) {
                ASSERT_EQ(cv::norm(one[k], vec[k], cv::NORM_INF), 0) << k;
            }
        }
    }
}

TEST(ResponseMaps, RegionOfInterestCodesGiveTheSameMaps) {
    const cv::Mat whole = sample_codes(40, 90, 4);
    const cv::Mat roi = whole(cv::Rect(5, 3, 61, 30));
    ASSERT_FALSE(roi.isContinuous());
    std::vector<cv::Mat> from_roi;
    quro::computeResponseMaps16(roi, from_roi);
    expect_maps_follow_table(roi, from_roi, false);
}

TEST(ResponseMaps, ReplaceTheCallersMapsWithoutTouchingTheirData) {
    const cv::Mat codes = sample_codes(10, 40, 2);
    std::vector<cv::Mat> maps(3, cv::Mat(10, 40, CV_8SC1, cv::Scalar(9)));
    const cv::Mat held = maps[0];
    quro::computeResponseMaps16(codes, maps);
    EXPECT_EQ(maps.size(), 16u);
    EXPECT_EQ(cv::countNonZero(held != 9), 0);  // a map the caller kept is not overwritten
}

TEST(ResponseMaps, RebuildingIntoTheirOwnEarlierMapsIsCorrect) {
    const cv::Mat first = sample_codes(30, 50, 5);
    const cv::Mat second = sample_codes(30, 50, 6);
    std::vector<cv::Mat> maps;
    quro::computeResponseMaps16(first, maps);
    const std::uint8_t* block = maps[0].data;
    quro::computeResponseMaps16Abs(second, maps);
    expect_maps_follow_table(second, maps, true);
    EXPECT_EQ(maps[0].data, block);  // nobody else held them: written in place
}

TEST(ResponseMaps, EarlierMapsHeldElsewhereStayIntact) {
    const cv::Mat first = sample_codes(30, 50, 5);
    std::vector<cv::Mat> maps;
    quro::computeResponseMaps16(first, maps);
    const cv::Mat kept = maps[3].clone();
    const cv::Mat held = maps[3];  // shares the block
    quro::computeResponseMaps16(sample_codes(30, 50, 6), maps);
    EXPECT_EQ(cv::norm(held, kept, cv::NORM_INF), 0);
    EXPECT_NE(maps[3].data, held.data);
    // A different size is never written into the old block either.
    std::vector<cv::Mat> other;
    quro::computeResponseMaps16(first, other);
    quro::computeResponseMaps16(sample_codes(31, 50, 6), other);
    EXPECT_EQ(other[0].rows, 31);
}

TEST(ResponseMaps, EmptyCodesGiveSixteenEmptyMaps) {
    std::vector<cv::Mat> maps;
    quro::computeResponseMaps16(cv::Mat(), maps);
    ASSERT_EQ(maps.size(), 16u);
    for (const auto& m : maps) EXPECT_TRUE(m.empty());
}

TEST(ResponseMaps, RejectOtherCodeTypes) {
    std::vector<cv::Mat> maps;
    EXPECT_THROW(quro::computeResponseMaps16(cv::Mat(4, 4, CV_16SC1, cv::Scalar(1)), maps),
                 cv::Exception);
}

}  // namespace
