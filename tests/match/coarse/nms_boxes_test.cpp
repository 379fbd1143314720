#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "quro/match/coarse/my_nms.inl"
#include "quro/match/coarse/my_nmsboxes.h"

namespace {

using quro::NMSBoxes;
using quro::NMSFast_;
using quro::rect_overlap;

TEST(RectOverlap, IntersectionOverUnion) {
    EXPECT_FLOAT_EQ(rect_overlap({0, 0, 10, 10}, {0, 0, 10, 10}), 1.f);
    EXPECT_EQ(rect_overlap({0, 0, 10, 10}, {10, 0, 10, 10}), 0.f);  // touching edges
    EXPECT_EQ(rect_overlap({0, 0, 10, 10}, {30, 40, 5, 5}), 0.f);
    // Five columns apart: 50 / 150, through 1 - (float)(1 - 1/3).
    EXPECT_EQ(rect_overlap({0, 0, 10, 10}, {5, 0, 10, 10}),
              1.f - static_cast<float>(1.0 - 50.0 / 150.0));
    // One pixel apart along both axes: 81 / 119.
    EXPECT_NEAR(rect_overlap({0, 0, 10, 10}, {1, 1, 10, 10}), 81.0 / 119.0, 1e-6);
    EXPECT_NEAR(rect_overlap({0, 0, 10, 10}, {2, 3, 4, 5}), 20.0 / 100.0, 1e-6);
    EXPECT_EQ(rect_overlap({0, 0, 10, 10}, {1, 1, 10, 10}),
              rect_overlap({1, 1, 10, 10}, {0, 0, 10, 10}));
}

TEST(RectOverlap, AreasSummingToZeroOrLessCountAsFullOverlap) {
    EXPECT_EQ(rect_overlap({0, 0, 0, 0}, {5, 5, 0, 3}), 1.f);
    EXPECT_EQ(rect_overlap({0, 0, -4, 3}, {0, 0, 2, 3}), 1.f);  // -12 + 6
    EXPECT_EQ(rect_overlap({0, 0, 0, 0}, {0, 0, 2, 2}), 0.f);   // one empty box
}

TEST(RectOverlap, HugeBoxesDoNotOverflow) {
    const int big = 2000000000;
    EXPECT_FLOAT_EQ(rect_overlap({0, 0, big, big}, {0, 0, big, big}), 1.f);
    EXPECT_NEAR(rect_overlap({0, 0, big, big}, {big / 2, 0, big, big}), 1.0 / 3.0, 1e-6);
}

TEST(NMSBoxes, KeepsOnlyScoresStrictlyAboveTheThreshold) {
    const std::vector<cv::Rect> boxes{{0, 0, 4, 4}, {100, 0, 4, 4}, {200, 0, 4, 4}};
    std::vector<int> kept{42};
    NMSBoxes(boxes, {0.5f, 0.50001f, 0.9f}, 0.5f, 1.f, kept);
    EXPECT_EQ(kept, (std::vector<int>{2, 1}));
}

TEST(NMSBoxes, EqualScoresKeepListOrder) {
    std::vector<cv::Rect> boxes;
    for (int i = 0; i < 20; ++i) boxes.emplace_back(i * 10, 0, 5, 5);
    std::vector<float> scores(20, 0.7f);
    scores[13] = 0.8f;
    scores[4] = 0.6f;
    std::vector<int> kept;
    NMSBoxes(boxes, scores, 0.f, 0.f, kept);
    std::vector<int> expected{13};
    for (int i = 0; i < 20; ++i)
        if (i != 13 && i != 4) expected.push_back(i);
    expected.push_back(4);
    EXPECT_EQ(kept, expected);
}

TEST(NMSBoxes, OverlapLimitsOneKeepAllZeroKeepsDisjoint) {
    const std::vector<cv::Rect> boxes{
        {0, 0, 10, 10}, {1, 0, 10, 10}, {9, 9, 10, 10}, {10, 0, 5, 5}};
    const std::vector<float> scores{0.9f, 0.8f, 0.7f, 0.6f};
    std::vector<int> kept;
    NMSBoxes(boxes, scores, 0.f, 1.f, kept);
    EXPECT_EQ(kept, (std::vector<int>{0, 1, 2, 3}));
    NMSBoxes(boxes, scores, 0.f, 0.f, kept);
    // Box 2 touches box 0 in one pixel; box 3 only touches box 0's edge.
    EXPECT_EQ(kept, (std::vector<int>{0, 3}));
}

TEST(NMSBoxes, FiveColumnsApartIsAThirdOverlap) {
    const std::vector<cv::Rect> boxes{{20, 20, 10, 10}, {25, 20, 10, 10}};
    std::vector<int> kept;
    NMSBoxes(boxes, {0.6f, 0.9f}, 0.1f, 0.5f, kept);
    EXPECT_EQ(kept, (std::vector<int>{1, 0}));
    NMSBoxes(boxes, {0.6f, 0.9f}, 0.1f, 0.3f, kept);
    EXPECT_EQ(kept, (std::vector<int>{1}));
}

TEST(NMSFast, AdaptiveThresholdShrinksAfterEachKeptBox) {
    // Box 2 overlaps the best box by 80 / 120; box 1 overlaps nothing.
    const std::vector<cv::Rect> boxes{{0, 0, 10, 10}, {100, 0, 10, 10}, {0, 2, 10, 10}};
    const std::vector<float> scores{0.9f, 0.8f, 0.7f};
    std::vector<int> kept;
    NMSFast_(boxes, scores, 0.f, 0.9f, 1.f, kept, 0);
    EXPECT_EQ(kept, (std::vector<int>{0, 1, 2}));  // 80 / 120 = 0.667 <= 0.9
    NMSFast_(boxes, scores, 0.f, 0.9f, 0.5f, kept, 0);
    EXPECT_EQ(kept, (std::vector<int>{0, 1}));  // threshold 0.45 then 0.45 (not above 0.5)
    NMSBoxes(boxes, scores, 0.f, 0.9f, kept, 0.5f);
    EXPECT_EQ(kept, (std::vector<int>{0, 1}));
}

TEST(NMSFast, StopsAtTheLimit) {
    std::vector<cv::Rect> boxes;
    std::vector<float> scores;
    for (int i = 0; i < 10; ++i) {
        boxes.emplace_back(i * 20, 0, 10, 10);
        scores.push_back(static_cast<float>(i));
    }
    std::vector<int> kept;
    NMSFast_(boxes, scores, 0.f, 0.5f, 1.f, kept, 3);
    EXPECT_EQ(kept, (std::vector<int>{9, 8, 7}));
    NMSFast_(boxes, scores, 0.f, 0.5f, 1.f, kept);
    EXPECT_EQ(kept.size(), 9u);  // score 0 is not above 0
}

TEST(NMSBoxes, RandomBoxesKeepAGreedyConsistentSet) {
    cv::RNG rng(17);
    for (int round = 0; round < 30; ++round) {
        std::vector<cv::Rect> boxes;
        std::vector<float> scores;
        const int n = rng.uniform(1, 80);
        for (int i = 0; i < n; ++i) {
            boxes.emplace_back(rng.uniform(0, 60), rng.uniform(0, 60), rng.uniform(1, 25),
                               rng.uniform(1, 25));
            scores.push_back(static_cast<float>(rng.uniform(0, 10)) / 10.f);  // many ties
        }
        const float thr = static_cast<float>(rng.uniform(0.0, 1.0));
        std::vector<int> kept;
        NMSBoxes(boxes, scores, 0.25f, thr, kept);
        // Kept: above the score threshold, best first, ties by index, pairwise within the limit.
        for (std::size_t a = 0; a < kept.size(); ++a) {
            const auto ia = static_cast<std::size_t>(kept[a]);
            EXPECT_GT(scores[ia], 0.25f);
            if (a > 0) {
                const auto ip = static_cast<std::size_t>(kept[a - 1]);
                EXPECT_TRUE(scores[ip] > scores[ia] || (scores[ip] == scores[ia] && ip < ia));
            }
            for (std::size_t b = 0; b < a; ++b) {
                EXPECT_LE(rect_overlap(boxes[ia], boxes[static_cast<std::size_t>(kept[b])]), thr);
            }
        }
        // Dropped: below the threshold, or overlapping a kept box that ranks before it too much.
        for (int i = 0; i < n; ++i) {
            const auto ii = static_cast<std::size_t>(i);
            if (std::find(kept.begin(), kept.end(), i) != kept.end() || !(scores[ii] > 0.25f))
                continue;
            bool covered = false;
            for (const int k : kept) {
                const auto ik = static_cast<std::size_t>(k);
                const bool before = scores[ik] > scores[ii] || (scores[ik] == scores[ii] && k < i);
                covered = covered || (before && rect_overlap(boxes[ii], boxes[ik]) > thr);
            }
            EXPECT_TRUE(covered) << "box " << i << " dropped without cause";
        }
    }
}

// Boxes of one size (every coarse-search peak of one angle) are suppressed through a grid of
// their cells; the kept indices must be those of comparing every kept box.
TEST(NMSFast, BoxesOfOneSizeKeepWhatComparingAllKeeps) {
    cv::RNG rng(29);
    for (int round = 0; round < 12; ++round) {
        const int w = rng.uniform(1, 30), h = rng.uniform(1, 30), n = rng.uniform(64, 3000);
        std::vector<cv::Rect> boxes;
        std::vector<float> scores;
        for (int i = 0; i < n; ++i) {
            boxes.emplace_back(rng.uniform(-200, 400), rng.uniform(-200, 400), w, h);
            scores.push_back(static_cast<float>(rng.uniform(0, 50)) / 50.f);  // many ties
        }
        const float thr = static_cast<float>(rng.uniform(0.0, 1.0));
        const float eta = round % 3 == 0 ? 0.9f : 1.f;
        std::vector<int> grid, all;
        quro::NMSFast_(boxes, scores, 0.1f, thr, eta, grid, round % 4 == 1 ? 40 : INT_MAX);
        quro::NMSFast_(boxes, scores, 0.1f, thr, eta, all, round % 4 == 1 ? 40 : INT_MAX,
                       [](const cv::Rect& a, const cv::Rect& b) { return rect_overlap(a, b); });
        EXPECT_EQ(grid, all) << "round " << round;
    }
}

// The error of a call: code, condition text and function name.
void expect_error(const std::function<void()>& call, const std::string& text,
                  const std::string& function) {
    try {
        call();
        ADD_FAILURE() << "no error for " << text;
    } catch (const cv::Exception& e) {
        EXPECT_EQ(e.code, -215);
        EXPECT_EQ(e.code, cv::Error::StsAssert);
        EXPECT_EQ(e.err, text);
        EXPECT_EQ(e.func, function);
    }
}

TEST(NMSBoxes, BadArgumentsRaiseAssertionErrors) {
    const std::vector<cv::Rect> boxes{{0, 0, 4, 4}, {1, 1, 4, 4}};
    const std::vector<float> scores{0.5f, 0.6f};
    const std::vector<float> one{0.5f};
    std::vector<int> kept{7};
    const float nan = std::nanf("");
    for (const std::string fn : {"cv::dnn::NMSBoxes", "cv::dnn::NMSFast_"}) {
        auto run = [&](const std::vector<float>& s, float st, float nt, float eta) {
            return [&, s, st, nt, eta, fn] {
                if (fn == "cv::dnn::NMSBoxes")
                    NMSBoxes(boxes, s, st, nt, kept, eta);
                else
                    NMSFast_(boxes, s, st, nt, eta, kept, 0);
            };
        };
        expect_error(run(one, 0.f, 0.5f, 1.f), "bboxes.size() == scores.size()", fn);
        expect_error(run(scores, -0.1f, 0.5f, 1.f), "score_threshold >= 0", fn);
        expect_error(run(scores, nan, 0.5f, 1.f), "score_threshold >= 0", fn);
        expect_error(run(scores, 0.f, -1e-6f, 1.f), "nms_threshold >= 0", fn);
        expect_error(run(scores, 0.f, nan, 1.f), "nms_threshold >= 0", fn);
        expect_error(run(scores, 0.f, 0.5f, 0.f), "eta > 0", fn);
        expect_error(run(scores, 0.f, 0.5f, nan), "eta > 0", fn);
        EXPECT_EQ(kept, (std::vector<int>{7}));
    }
}

}  // namespace
