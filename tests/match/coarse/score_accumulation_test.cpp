#include "quro/match/coarse/score_accumulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "quro/cpu.h"
#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/coarse/response_maps.h"
#include "quro/match/coarse/score_kernels.h"
#include "testing/test_clock.h"

namespace {

using quro::QuantizedTemplate;

// 16 maps of rows x cols as bands of one block, as the response-map builder lays them out.
std::vector<cv::Mat> random_maps(int rows, int cols, int lo, int hi, cv::RNG& rng) {
    cv::Mat block(16 * rows, cols, CV_8SC1);
    rng.fill(block, cv::RNG::UNIFORM, lo, hi + 1);
    std::vector<cv::Mat> maps;
    for (int k = 0; k < 16; ++k) maps.push_back(block.rowRange(k * rows, (k + 1) * rows));
    return maps;
}

std::vector<cv::Mat> constant_maps(int rows, int cols, int value) {
    std::vector<cv::Mat> maps;
    for (int k = 0; k < 16; ++k) maps.emplace_back(rows, cols, CV_8SC1, cv::Scalar(value));
    return maps;
}

// Sets the box of a template from its points.
void close_box(QuantizedTemplate& t) {
    t.min_x = *std::min_element(t.xs.begin(), t.xs.end());
    t.max_x = *std::max_element(t.xs.begin(), t.xs.end());
    t.min_y = *std::min_element(t.ys.begin(), t.ys.end());
    t.max_y = *std::max_element(t.ys.begin(), t.ys.end());
}

QuantizedTemplate random_template(int n, int half_w, int half_h, cv::RNG& rng) {
    QuantizedTemplate t;
    for (int k = 0; k < n; ++k) {
        t.xs.push_back(rng.uniform(-half_w, half_w + 1));
        t.ys.push_back(rng.uniform(-half_h, half_h + 1));
        t.codes.push_back(rng.uniform(0, 16));
    }
    close_box(t);
    return t;
}

// Plain reference: for every template position of the whole image, the sum in template order
// with every addition clamped, then the sign folded for a negative metric.
void reference(const std::vector<cv::Mat>& maps, const QuantizedTemplate& t, int metric,
               cv::Mat& score, cv::Mat& polarity) {
    const int rows = maps[0].rows, cols = maps[0].cols;
    score = cv::Mat(rows, cols, CV_16SC1, cv::Scalar(0));
    polarity = cv::Mat(rows, cols, CV_8SC1, cv::Scalar(1));
    const int w = t.max_x - t.min_x + 1, h = t.max_y - t.min_y + 1;
    for (int r = 0; r + h <= rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            // The last valid start is column cols - w of row rows - h.
            if (r == rows - h && c > cols - w) break;
            int sum = 0;
            for (std::size_t k = 0; k < t.size(); ++k) {
                // Linear index: a template running past the row end reads the next row.
                const long idx =
                    static_cast<long>(r + t.ys[k] - t.min_y) * cols + c + (t.xs[k] - t.min_x);
                const cv::Mat& m = maps[static_cast<std::size_t>(t.codes[k])];
                sum = std::clamp(sum + m.ptr<std::int8_t>()[idx], -32768, 32767);
            }
            if (metric < 0 && sum < 0) {
                polarity.at<std::int8_t>(r, c) = -1;
                sum = std::min(-sum, 32767);
            }
            score.at<std::int16_t>(r, c) = static_cast<std::int16_t>(sum);
        }
    }
}

void expect_same(const cv::Mat& a, const cv::Mat& b, const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    ASSERT_EQ(a.type(), b.type()) << what;
    EXPECT_EQ(cv::countNonZero(a != b), 0) << what;
}

void accumulate(const std::vector<cv::Mat>& maps, const QuantizedTemplate& t, int metric,
                cv::Mat& score, cv::Mat& polarity, bool vector_path,
                quro::MapValues values = quro::MapValues::any) {
    quro::Stopwatch sw;
    quro::accumulate_similarity_with(
        maps, t, metric, score, polarity, {sw, 0},
        vector_path ? quro::KernelPath::vector : quro::KernelPath::scalar,
        quro::ScoreScope{values, {}});
}

bool have_avx2() {
    return quro::cpu_has_avx2();
}

// Both lane paths (the vector one when the processor has it) against the reference; with
// `responses` (maps within the response range) also the vector path that sums bytes first.
void expect_paths_match_reference(const std::vector<cv::Mat>& maps, const QuantizedTemplate& t,
                                  int metric, bool responses = false) {
    cv::Mat ref_s, ref_p;
    reference(maps, t, metric, ref_s, ref_p);
    for (int path : {0, 1, 2}) {
        if ((path > 0 && !have_avx2()) || (path == 2 && !responses)) continue;
        cv::Mat s, p;
        accumulate(maps, t, metric, s, p, path > 0,
                   path == 2 ? quro::MapValues::responses : quro::MapValues::any);
        SCOPED_TRACE(path == 0 ? "one lane" : path == 1 ? "32 lanes" : "32 lanes, byte sums");
        expect_same(s, ref_s, "score");
        expect_same(p, ref_p, "polarity");
    }
}

TEST(ScoreAccumulation, LanePathsAndReferenceAgreeOnRandomInput) {
    cv::RNG rng(7);
    for (int cols : {31, 32, 33, 100}) {
        for (int metric : {-1, 0, 1}) {
            SCOPED_TRACE(testing::Message() << "cols " << cols << " metric " << metric);
            const int rows = 20 + cols / 3;
            const auto maps = random_maps(rows, cols, -4, 4, rng);
            const QuantizedTemplate t =
                random_template(rng.uniform(1, 60), std::min(cols / 3, 12), 6, rng);
            expect_paths_match_reference(maps, t, metric, true);
        }
    }
}

TEST(ScoreAccumulation, BlocksAndSaturationOrderMatchTheReference) {
    // Full byte range, so sums saturate often and the order of the clamped additions shows; a map
    // large enough for three blocks of positions, with a remainder that is no multiple of 32.
    // Then response values (+-4), whose byte sums must give the same blocks.
    for (const int bound : {127, quro::kMaxResponse}) {
        cv::RNG rng(11);
        const auto maps = random_maps(170, 151, -bound - (bound == 127), bound, rng);
        const QuantizedTemplate t = random_template(700, 20, 15, rng);
        ASSERT_GT((170 - (t.max_y - t.min_y)) * 151, 2 * quro::kAccumulationBlock);
        for (int metric : {-1, 1})
            expect_paths_match_reference(maps, t, metric, bound == quro::kMaxResponse);
    }
}

TEST(ScoreAccumulation, VectorKernelEqualsOneLaneKernelOnEveryLength) {
    if (!have_avx2()) GTEST_SKIP() << "AVX2 not available (or disabled through OPENCV_CPU_DISABLE)";
    cv::RNG rng(3);
    for (std::size_t n : {1u, 15u, 16u, 31u, 32u, 33u, 63u, 64u, 65u, 100u, 8192u}) {
        for (int count : {1, 5, 16}) {
            cv::Mat src(count, static_cast<int>(n), CV_8SC1);
            rng.fill(src, cv::RNG::UNIFORM, -128, 128);
            std::vector<const std::int8_t*> rows;
            for (int j = 0; j < count; ++j) rows.push_back(src.ptr<std::int8_t>(j));
            cv::Mat acc(1, static_cast<int>(n), CV_16SC1);
            rng.fill(acc, cv::RNG::UNIFORM, -32768, 32768);
            cv::Mat a = acc.clone(), b = acc.clone();
            quro::accumulate_rows_scalar(a.ptr<std::int16_t>(), rows.data(), count, n);
            quro::accumulate_rows_avx2(b.ptr<std::int16_t>(), rows.data(), count, n);
            expect_same(a, b, "accumulated rows");
            cv::Mat pa(1, static_cast<int>(n), CV_8SC1, cv::Scalar(0)), pb = pa.clone();
            quro::fold_sign_scalar(a.ptr<std::int16_t>(), pa.ptr<std::int8_t>(), n);
            quro::fold_sign_avx2(b.ptr<std::int16_t>(), pb.ptr<std::int8_t>(), n);
            expect_same(a, b, "folded scores");
            expect_same(pa, pb, "folded polarity");
        }
    }
}

TEST(ScoreAccumulation, TemplateTallerThanTheMapsGivesZeroAndPlusOne) {
    const auto maps = constant_maps(10, 40, 3);
    QuantizedTemplate t;
    t.xs = {0, 1};
    t.ys = {0, 10};  // H = 11 > R = 10
    t.codes = {0, 1};
    close_box(t);
    for (bool vec : {false, true}) {
        cv::Mat s, p;
        accumulate(maps, t, -1, s, p, vec);
        ASSERT_EQ(s.size(), cv::Size(40, 10));
        EXPECT_EQ(cv::countNonZero(s), 0);
        EXPECT_EQ(cv::countNonZero(p != 1), 0);
    }
}

TEST(ScoreAccumulation, NoPositionLeftGivesZeroAndPlusOne) {
    // H == R leaves one row of starts, and W > C leaves none of them: N = C - W + 1 <= 0.
    const auto maps = constant_maps(6, 8, -2);
    QuantizedTemplate t;
    t.xs = {0, 8};
    t.ys = {0, 5};
    t.codes = {2, 3};
    close_box(t);
    cv::Mat s, p;
    accumulate(maps, t, -1, s, p, true);
    ASSERT_EQ(s.size(), cv::Size(8, 6));
    EXPECT_EQ(cv::countNonZero(s), 0);
    EXPECT_EQ(cv::countNonZero(p != 1), 0);
}

TEST(ScoreAccumulation, EmptyTemplateAccumulatesNothing) {
    const auto maps = constant_maps(5, 7, 4);
    const QuantizedTemplate t;  // no points, box min > max
    cv::Mat s, p;
    accumulate(maps, t, -1, s, p, true);
    ASSERT_EQ(s.size(), cv::Size(7, 5));
    ASSERT_EQ(s.type(), CV_16SC1);
    ASSERT_EQ(p.type(), CV_8SC1);
    EXPECT_EQ(cv::countNonZero(s), 0);
    EXPECT_EQ(cv::countNonZero(p != 1), 0);
}

TEST(ScoreAccumulation, TimeOutBeforeEntryLeavesBothOutputsAsPassed) {
    const auto maps = constant_maps(20, 20, 4);
    QuantizedTemplate t;
    t.xs = {0};
    t.ys = {0};
    t.codes = {0};
    close_box(t);
    const quro::Stopwatch sw = quro_test::expired_stopwatch();
    cv::Mat s(3, 3, CV_16SC1, cv::Scalar(7)), p(2, 2, CV_8SC1, cv::Scalar(-3));
    const void* s_data = s.data;
    const void* p_data = p.data;
    for (bool vec : {false, true}) {
        quro::accumulate_similarity_with(maps, t, -1, s, p, {sw, 1},
                                         vec ? quro::KernelPath::vector : quro::KernelPath::scalar);
        EXPECT_EQ(s.data, s_data);
        EXPECT_EQ(p.data, p_data);
        EXPECT_EQ(cv::countNonZero(s != 7), 0);
        EXPECT_EQ(cv::countNonZero(p != -3), 0);
    }
    cv::Mat empty_s, empty_p;
    quro::accumulate_similarity(maps, t, 1, empty_s, empty_p, {sw, 1});
    EXPECT_TRUE(empty_s.empty());
    EXPECT_TRUE(empty_p.empty());
    // No time-out (0) and a generous one both run.
    quro::accumulate_similarity(maps, t, 1, empty_s, empty_p, {sw, 0});
    EXPECT_EQ(empty_s.at<std::int16_t>(0, 0), 4);
}

// A codes image of one direction everywhere and its signed response maps.
std::vector<cv::Mat> one_direction_maps(int rows, int cols, int code) {
    cv::Mat codes(rows, cols, CV_8UC1, cv::Scalar(code + 1));
    std::vector<cv::Mat> maps;
    quro::computeResponseMaps16(codes, maps);
    return maps;
}

TEST(ScoreAccumulation, TimeOutDuringTheLoopLeavesPartialSumsAndPlusOne) {
    // 1000 points at one spot; the time-out passes after the entry check, so the loop stops at
    // its first check, after the first 16 points of the first block.
    const auto maps = one_direction_maps(100, 100, 2);
    QuantizedTemplate t;
    t.xs.assign(1000, 0);
    t.ys.assign(1000, 0);
    t.codes.assign(1000, 10);  // opposite: -4 each
    close_box(t);
    for (bool vec : {false, true}) {
        if (vec && !have_avx2()) continue;
        const quro::Stopwatch sw = quro_test::stopwatch_expiring_after(1);
        cv::Mat s, p;
        quro::accumulate_similarity_with(maps, t, -1, s, p, {sw, 1},
                                         vec ? quro::KernelPath::vector : quro::KernelPath::scalar);
        ASSERT_EQ(s.size(), cv::Size(100, 100));
        const int first = s.at<std::int16_t>(0, 0);
        EXPECT_EQ(first, -4 * quro::kAccumulationCheckPoints);  // not folded
        EXPECT_EQ(s.ptr<std::int16_t>()[quro::kAccumulationBlock - 1], first);
        EXPECT_EQ(s.ptr<std::int16_t>()[quro::kAccumulationBlock], 0);  // second block untouched
        EXPECT_EQ(cv::countNonZero(p != 1), 0);
    }
}

TEST(ScoreAccumulation, NegativeMetricFoldsOppositeContrastIntoPolarity) {
    const auto maps = one_direction_maps(30, 40, 3);
    cv::RNG rng(5);
    QuantizedTemplate t = random_template(37, 6, 4, rng);
    for (int& c : t.codes) c = 11;  // opposite of direction 3: similarity -4
    const int n = static_cast<int>(t.size());
    const int w = t.max_x - t.min_x + 1, h = t.max_y - t.min_y + 1;
    const int positions = (30 - h + 1) * 40 - w + 1;
    for (bool vec : {false, true}) {
        cv::Mat s, p;
        accumulate(maps, t, -1, s, p, vec);
        for (int i = 0; i < 30 * 40; ++i) {
            const bool inside = i < positions;
            ASSERT_EQ(s.ptr<std::int16_t>()[i], inside ? 4 * n : 0) << i;
            ASSERT_EQ(p.ptr<std::int8_t>()[i], inside ? -1 : 1) << i;
        }
    }
}

TEST(ScoreAccumulation, OtherMetricsKeepNegativeSumsAndPlusOne) {
    const auto maps = one_direction_maps(30, 40, 3);
    cv::RNG rng(6);
    QuantizedTemplate t = random_template(21, 5, 5, rng);
    for (int& c : t.codes) c = 11;
    const int n = static_cast<int>(t.size());
    for (int metric : {0, 1}) {
        for (bool vec : {false, true}) {
            cv::Mat s, p;
            accumulate(maps, t, metric, s, p, vec);
            EXPECT_EQ(s.at<std::int16_t>(0, 0), -4 * n);
            EXPECT_EQ(s.at<std::int16_t>(3, 7), -4 * n);
            EXPECT_EQ(cv::countNonZero(p != 1), 0);
        }
    }
}

TEST(ScoreAccumulation, PositionsPastTheLastStartStayZeroAndPlusOne) {
    const auto maps = constant_maps(12, 15, -1);
    QuantizedTemplate t;
    t.xs = {-2, 3, 0};
    t.ys = {-1, 2, 0};  // W = 6, H = 4: N = 9 * 15 - 5 = 130
    t.codes = {1, 4, 9};
    close_box(t);
    for (bool vec : {false, true}) {
        cv::Mat s, p;
        accumulate(maps, t, -1, s, p, vec);
        for (int i = 0; i < 12 * 15; ++i) {
            ASSERT_EQ(s.ptr<std::int16_t>()[i], i < 130 ? 3 : 0) << i;
            ASSERT_EQ(p.ptr<std::int8_t>()[i], i < 130 ? -1 : 1) << i;
        }
    }
}

TEST(ScoreAccumulation, NineThousandPointsSaturateOnBothLanePaths) {
    const auto maps = one_direction_maps(8, 70, 5);
    QuantizedTemplate t;
    for (int k = 0; k < 9000; ++k) {
        t.xs.push_back(k % 3);
        t.ys.push_back(k % 2);
        t.codes.push_back(5);  // same direction: 4 each
    }
    close_box(t);
    for (bool vec : {false, true}) {
        cv::Mat s, p;
        accumulate(maps, t, 1, s, p, vec);
        EXPECT_EQ(s.at<std::int16_t>(0, 0), 32767);
        EXPECT_EQ(s.at<std::int16_t>(6, 60), 32767);
        // Opposite directions saturate at -32768, which folds to 32767 with polarity -1.
        for (int& c : t.codes) c = 13;
        accumulate(maps, t, -1, s, p, vec);
        EXPECT_EQ(s.at<std::int16_t>(0, 0), 32767);
        EXPECT_EQ(p.at<std::int8_t>(0, 0), -1);
        for (int& c : t.codes) c = 5;
    }
}

TEST(ScoreAccumulation, SaturatedAdditionsKeepTemplateOrder) {
    // 8192 points of +4 stop at 32767 (not 32768); 100 points of -4 after them give 32367.
    // The negative points added first would give -400 + 32768 = 32368.
    const auto maps = one_direction_maps(4, 40, 0);
    QuantizedTemplate t;
    for (int k = 0; k < 8192; ++k) {
        t.xs.push_back(0);
        t.ys.push_back(0);
        t.codes.push_back(0);
    }
    for (int k = 0; k < 100; ++k) {
        t.xs.push_back(1);
        t.ys.push_back(0);
        t.codes.push_back(8);
    }
    close_box(t);
    for (bool vec : {false, true}) {
        cv::Mat s, p;
        accumulate(maps, t, 1, s, p, vec);
        EXPECT_EQ(s.at<std::int16_t>(1, 5), 32767 - 400);
    }
}

TEST(ScoreAccumulation, MalformedInputThrowsAndLeavesOutputs) {
    auto maps = constant_maps(10, 10, 1);
    QuantizedTemplate t;
    t.xs = {0};
    t.ys = {0};
    t.codes = {0};
    close_box(t);
    cv::Mat s(2, 2, CV_16SC1, cv::Scalar(9)), p;
    quro::Stopwatch sw;
    auto run = [&](const std::vector<cv::Mat>& m, const QuantizedTemplate& tt) {
        EXPECT_THROW(quro::accumulate_similarity(m, tt, 1, s, p, {sw, 0}), cv::Exception);
        EXPECT_EQ(s.rows, 2);
        EXPECT_TRUE(p.empty());
    };
    run(std::vector<cv::Mat>(maps.begin(), maps.begin() + 15), t);
    auto wrong_type = maps;
    wrong_type[3] = cv::Mat(10, 10, CV_8UC1, cv::Scalar(1));
    run(wrong_type, t);
    auto wrong_size = maps;
    wrong_size[15] = cv::Mat(10, 11, CV_8SC1, cv::Scalar(1));
    run(wrong_size, t);
    auto strided = maps;
    cv::Mat wide(10, 20, CV_8SC1, cv::Scalar(1));
    strided[0] = wide.colRange(0, 10);
    run(strided, t);
    QuantizedTemplate bad_code = t;
    bad_code.codes[0] = 16;
    run(maps, bad_code);
    QuantizedTemplate outside = t;
    outside.xs[0] = 3;  // box still 0..0
    run(maps, outside);
    QuantizedTemplate short_list = t;
    short_list.codes.clear();
    run(maps, short_list);
}

}  // namespace
