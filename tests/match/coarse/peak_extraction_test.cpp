#include "quro/match/coarse/peak_extraction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "quro/match/coarse/orientation_codes.h"
#include "testing/test_clock.h"

namespace {

using quro::Match;
using quro::OutlineBox;
using quro::QuantizedTemplate;

// A 25-point template with the box -5..4 on both axes (W = H = 10, 4n = 100), a score map of
// 60 x 70 zeros with polarity +1, and a radius whose margin is 8: the scan covers rows 4..45 and
// columns 4..55, and a peak at (row, col) has its reference point at (col - 3, row - 3).
struct Fixture {
    QuantizedTemplate tpl;
    OutlineBox box{-5.f, 4.f, -5.f, 4.f, 6.5f, 0.f};
    cv::Mat score{60, 70, CV_16SC1, cv::Scalar(0)};
    cv::Mat polarity{60, 70, CV_8SC1, cv::Scalar(1)};
    quro::Stopwatch sw;

    Fixture() {
        for (int k = 0; k < 25; ++k) {
            tpl.xs.push_back(k % 10 - 5);
            tpl.ys.push_back(k == 24 ? 4 : -5 + k % 5);
            tpl.codes.push_back(k % 16);
        }
        tpl.min_x = tpl.min_y = -5;
        tpl.max_x = tpl.max_y = 4;
    }
    void set(int row, int col, int v) {
        score.at<std::int16_t>(row, col) = static_cast<std::int16_t>(v);
    }
    std::vector<Match> peaks(float min_score, float overlap, int timeout_ms = 0) {
        std::vector<Match> out;
        quro::extract_peaks(score, tpl, min_score, overlap, box, 12.5f, 0.9f, out, {sw, timeout_ms},
                            polarity);
        return out;
    }
};

// (col, row) of the score map position of each candidate.
std::vector<cv::Point> positions(const std::vector<Match>& ms) {
    std::vector<cv::Point> p;
    for (const Match& m : ms) p.emplace_back(m.x + 3, m.y + 3);
    return p;
}

TEST(PeakExtraction, ThresholdIsStrictAndCandidatesCarryThePose) {
    Fixture f;
    f.set(20, 20, 50);  // T = (int)(100 * 0.5f) = 50: no peak
    f.set(30, 40, 51);
    f.polarity.at<std::int8_t>(30, 40) = -1;
    const auto out = f.peaks(0.5f, 0.5f);
    ASSERT_EQ(out.size(), 1u);
    const Match& m = out[0];
    EXPECT_EQ(m.x, 40 + 5 - 8);
    EXPECT_EQ(m.y, 30 + 5 - 8);
    EXPECT_EQ(m.model_id, 0);
    EXPECT_EQ(m.angle, 12.5f);
    EXPECT_EQ(m.scale_row, 0.9f);
    EXPECT_EQ(m.scale_col, 0.9f);
    EXPECT_EQ(m.score, 51.f * (1.f / 100.f));
    EXPECT_EQ(m.flag, -1);
    EXPECT_EQ(m.dx, 0.f);
    EXPECT_EQ(m.dy, 0.f);
}

TEST(PeakExtraction, AnisoVariantSetsBothScales) {
    Fixture f;
    f.set(30, 40, 77);
    std::vector<Match> out;
    quro::extract_peaks_aniso(f.score, f.tpl, 0.5f, 0.5f, f.box, -3.f, 1.25f, 0.75f, out, {f.sw, 0},
                              f.polarity);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].scale_row, 1.25f);
    EXPECT_EQ(out[0].scale_col, 0.75f);
    EXPECT_EQ(out[0].angle, -3.f);
    EXPECT_EQ(out[0].flag, 1);
}

TEST(PeakExtraction, PlateauGivesTwoPeaksAndSuppressionDropsTheSecond) {
    Fixture f;
    f.set(20, 20, 80);
    f.set(20, 21, 80);
    // Boxes one column apart overlap by 90 / 110 = 0.818.
    auto out = f.peaks(0.5f, 0.82f);
    EXPECT_EQ(positions(out), (std::vector<cv::Point>{{20, 20}, {21, 20}}));
    out = f.peaks(0.5f, 0.81f);
    EXPECT_EQ(positions(out), (std::vector<cv::Point>{{20, 20}}));
}

TEST(PeakExtraction, AHigherNeighbourPreventsAPeak) {
    for (const cv::Point d :
         {cv::Point{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}}) {
        Fixture g;
        g.set(20, 20, 80);
        g.set(20 + d.y, 20 + d.x, 81);
        EXPECT_EQ(positions(g.peaks(0.5f, 1.f)), (std::vector<cv::Point>{{20 + d.x, 20 + d.y}}));
    }
}

TEST(PeakExtraction, OverlapOneKeepsAllZeroKeepsDisjointBoxes) {
    Fixture f;
    f.set(20, 20, 90);
    f.set(20, 29, 80);  // shares a column with the first box
    f.set(20, 40, 70);  // disjoint
    f.set(30, 20, 60);  // touches the first box's lower edge only
    EXPECT_EQ(f.peaks(0.5f, 1.f).size(), 4u);
    EXPECT_EQ(positions(f.peaks(0.5f, 0.f)),
              (std::vector<cv::Point>{{20, 20}, {40, 20}, {20, 30}}));
}

TEST(PeakExtraction, BoxesFiveColumnsApartOverlapByAThird) {
    Fixture f;
    f.set(20, 25, 70);
    f.set(20, 20, 90);
    EXPECT_EQ(positions(f.peaks(0.5f, 0.5f)), (std::vector<cv::Point>{{20, 20}, {25, 20}}));
    EXPECT_EQ(positions(f.peaks(0.5f, 0.3f)), (std::vector<cv::Point>{{20, 20}}));
}

TEST(PeakExtraction, BestFirstWithTiesInScanOrder) {
    Fixture f;
    f.set(10, 30, 60);
    f.set(20, 10, 70);
    f.set(30, 50, 60);
    f.set(40, 20, 90);
    f.set(44, 40, 60);
    const auto out = f.peaks(0.5f, 0.5f);
    EXPECT_EQ(positions(out),
              (std::vector<cv::Point>{{20, 40}, {10, 20}, {30, 10}, {50, 30}, {40, 44}}));
    for (std::size_t i = 1; i < out.size(); ++i) EXPECT_GE(out[i - 1].score, out[i].score);
}

TEST(PeakExtraction, ScanStaysInsideTheMargin) {
    Fixture f;
    for (const cv::Point p : {cv::Point{20, 3}, {20, 46}, {3, 20}, {56, 20}}) f.set(p.y, p.x, 99);
    f.set(4, 4, 60);
    f.set(45, 55, 60);
    EXPECT_EQ(positions(f.peaks(0.5f, 1.f)), (std::vector<cv::Point>{{4, 4}, {55, 45}}));
    // The margin follows the response maps' frame: a radius of 6.4 gives 7, which widens the
    // scan by one row and column on each side and moves the reference points by one.
    f.box.radius = 6.4f;
    ASSERT_EQ(quro::orientation_border(6.4f), 7);
    const auto out = f.peaks(0.5f, 1.f);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0].x, 20 + 5 - 7);  // (row 3, column 20) comes first in scan order
    EXPECT_EQ(out[0].y, 3 + 5 - 7);
}

// Random maps against a plain scan of every position (no suppression): a peak is above the
// threshold and below none of its neighbours, wherever it lies among the positions stepped over.
TEST(PeakExtraction, SkippedRunsHideNoPeak) {
    cv::RNG rng(22);
    for (const float min_score : {0.f, 0.5f, 0.9f}) {
        Fixture f;
        rng.fill(f.score, cv::RNG::UNIFORM, -32768, 32768);
        f.score.setTo(cv::Scalar(-32768), f.score < 30000);  // long runs far below, a few peaks
        std::vector<cv::Point> expected;
        const int t = quro::peak_threshold(f.tpl.size(), min_score);
        for (int r = 4; r <= 45; ++r)
            for (int c = 4; c <= 55; ++c) {
                const int v = f.score.at<std::int16_t>(r, c);
                bool peak = v > t;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc) peak = peak && v >= f.score.at<std::int16_t>(r + dr, c + dc);
                if (peak) expected.emplace_back(c, r);
            }
        std::vector<cv::Point> found = positions(f.peaks(min_score, 1.f));
        const auto by_scan = [](cv::Point a, cv::Point b) { return std::pair(a.y, a.x) < std::pair(b.y, b.x); };
        std::sort(found.begin(), found.end(), by_scan);
        EXPECT_EQ(found, expected) << min_score;
    }
}

TEST(PeakExtraction, TimeOutLeavesTheListUntouched) {
    Fixture f;
    f.set(20, 20, 90);
    f.sw = quro_test::expired_stopwatch();
    EXPECT_TRUE(f.peaks(0.5f, 0.5f, 1).empty());
    std::vector<Match> out{Match(1, 2, 0.5f)};
    quro::extract_peaks(f.score, f.tpl, 0.5f, 0.5f, f.box, 0.f, 1.f, out, {f.sw, 1}, f.polarity);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].x, 1);
    EXPECT_EQ(f.peaks(0.5f, 0.5f, 0).size(), 1u);  // no time-out
}

TEST(PeakExtraction, EmptyScoreMapReturnsAtOnce) {
    Fixture f;
    std::vector<Match> out{Match(1, 2, 0.5f)};
    quro::extract_peaks(cv::Mat(), f.tpl, 0.5f, 0.5f, f.box, 0.f, 1.f, out, {f.sw, 0}, cv::Mat());
    EXPECT_EQ(out.size(), 1u);
}

TEST(PeakExtraction, EmptyTemplateGivesNoPeaks) {
    Fixture f;
    f.set(20, 20, 90);
    f.tpl = QuantizedTemplate{};
    EXPECT_TRUE(f.peaks(0.f, 1.f).empty());
}

TEST(PeakExtraction, HugeMinScoreGivesNoPeaks) {
    Fixture f;  // a flat zero map: an unsaturated threshold would make every position a peak
    f.set(20, 20, 32767);
    EXPECT_TRUE(f.peaks(1e30f, 1.f).empty());
    EXPECT_TRUE(f.peaks(HUGE_VALF, 1.f).empty());
}

TEST(PeakExtraction, ThresholdSaturates) {
    EXPECT_EQ(quro::peak_threshold(25, 0.5f), 50);
    EXPECT_EQ(quro::peak_threshold(100, 0.333f), 133);
    EXPECT_EQ(quro::peak_threshold(100, 0.f), 0);
    EXPECT_EQ(quro::peak_threshold(100, 1e30f), INT_MAX);
    EXPECT_EQ(quro::peak_threshold(100, std::nanf("")), INT_MAX);
    EXPECT_EQ(quro::peak_threshold(100, -1e30f), INT_MIN);
    EXPECT_EQ(quro::peak_threshold(100, -0.5f), -200);
}

TEST(PeakExtraction, NegativeOrNaNLimitsRaiseTheSuppressionErrors) {
    Fixture f;
    f.set(20, 20, 90);
    std::vector<Match> out{Match(1, 2, 0.5f)};
    try {
        quro::extract_peaks(f.score, f.tpl, -0.1f, 0.5f, f.box, 0.f, 1.f, out, {f.sw, 0},
                            f.polarity);
        ADD_FAILURE() << "negative min_score accepted";
    } catch (const cv::Exception& e) {
        EXPECT_EQ(e.code, -215);
        EXPECT_EQ(e.err, "score_threshold >= 0");
        EXPECT_EQ(e.func, "cv::dnn::NMSBoxes");
    }
    try {
        quro::extract_peaks(f.score, f.tpl, 0.5f, std::nanf(""), f.box, 0.f, 1.f, out, {f.sw, 0},
                            f.polarity);
        ADD_FAILURE() << "NaN overlap accepted";
    } catch (const cv::Exception& e) {
        EXPECT_EQ(e.err, "nms_threshold >= 0");
    }
    EXPECT_EQ(out.size(), 1u);
}

TEST(PeakExtraction, MismatchedMapsAreRejected) {
    Fixture f;
    std::vector<Match> out;
    EXPECT_THROW(quro::extract_peaks(f.score, f.tpl, 0.5f, 0.5f, f.box, 0.f, 1.f, out, {f.sw, 0},
                                     cv::Mat(60, 71, CV_8SC1, cv::Scalar(1))),
                 cv::Exception);
    EXPECT_THROW(
        quro::extract_peaks(f.score, f.tpl, 0.5f, 0.5f, f.box, 0.f, 1.f, out, {f.sw, 0}, cv::Mat()),
        cv::Exception);
    cv::Mat as_float;
    f.score.convertTo(as_float, CV_32F);
    EXPECT_THROW(quro::extract_peaks(as_float, f.tpl, 0.5f, 0.5f, f.box, 0.f, 1.f, out, {f.sw, 0},
                                     f.polarity),
                 cv::Exception);
}

TEST(OutlineBox, CopiesTheLevelInItsOwnOrder) {
    quro::ShapeModelRecord rec;
    rec.num_levels = 2;
    rec.level_widths = {10, 5};
    rec.level_heights = {8, 4};
    rec.level_features.resize(2);
    rec.box_min_x = {-1.f, -2.f};
    rec.box_max_x = {3.f, 4.f};
    rec.box_min_y = {-5.f, -6.f};
    rec.box_max_y = {7.f, 8.f};
    rec.level_radius = {9.f, 10.f};
    rec.level_angle = {11.f, 12.f};
    EXPECT_EQ(quro::outline_box(rec, 2), (OutlineBox{-2.f, 4.f, -6.f, 8.f, 10.f, 12.f}));
}

}  // namespace
