#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>

#include <opencv2/core.hpp>

#include "quro/region/region_buffers.h"
#include "testing/region_masks.h"

namespace {

using quro_test::mask_runs;
using quro_test::region_runs;

quro::region three_runs() {
    quro::region r;
    int rows[] = {0, 1, 1}, begins[] = {2, 0, 5}, ends[] = {4, 3, 9};
    gen_region_runs2(&r, rows, begins, ends, 3);
    return r;
}

// Splits r into two parts by hand, as the component split does; returns a copy of part 0, whose
// count tells whether r's parts are still alive.
quro::region split(quro::region& r) {
    r.parts = static_cast<quro::region**>(std::malloc(2 * sizeof(quro::region*)));
    r.parts[0] = new quro::region(three_runs());
    r.parts[1] = new quro::region(0);
    r.num_parts = 2;
    return *r.parts[0];
}

// Uniform noise of w x h, and the runs cv::inRange finds in it for lo..hi.
std::pair<cv::Mat, quro_test::Runs> noise(int w, int h, int lo, int hi) {
    cv::Mat img(h, w, CV_8UC1), mask;
    cv::RNG(7).fill(img, cv::RNG::UNIFORM, 0, 256);
    cv::inRange(img, lo, hi, mask);
    return {img, mask_runs(mask)};
}

TEST(RegionLifecycle, EmptyRegionHasNoArraysAndGrowsWhenWritten) {
    quro::region r(0);
    EXPECT_EQ(r.capacity(), 0);
    EXPECT_EQ(r.rows, nullptr);
    EXPECT_EQ(r.col_ends, nullptr);
    const auto [img, expected] = noise(50, 20, 100, 200);
    threshold_y(img.data, img.cols, img.rows, 100, 200, &r);
    EXPECT_GE(r.capacity(), r.num_runs);
    EXPECT_EQ(region_runs(r), expected);
    quro::region e(0);
    e.expand();
    EXPECT_EQ(e.capacity(), 1);
}

TEST(RegionLifecycle, CopiesDestroyedInAnyOrderFreeOnce) {
    std::array<int, 3> order{0, 1, 2};
    do {
        auto a = std::make_unique<quro::region>(three_runs());
        std::array<std::unique_ptr<quro::region>, 3> copies{
            std::move(a), nullptr, std::make_unique<quro::region>()};
        copies[1] = std::make_unique<quro::region>(*copies[0]);
        *copies[2] = *copies[1];
        ASSERT_EQ(*copies[0]->refcount, 3);
        const auto expected = region_runs(*copies[0]);
        for (int k = 0; k < 3; ++k) {
            copies[order[k]].reset();
            for (auto& c : copies) {
                if (!c) continue;
                EXPECT_EQ(region_runs(*c), expected);
            }
        }
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(RegionLifecycle, SelfAssignmentChangesNothing) {
    quro::region a = three_runs();
    const int* rows = a.rows;
    a = *&a;
    EXPECT_EQ(a.rows, rows);
    EXPECT_EQ(*a.refcount, 1);
    EXPECT_EQ(region_runs(a), region_runs(three_runs()));
}

TEST(RegionLifecycle, OverwritingTheLastReferenceOfASplitRegionReleasesItsParts) {
    const cv::Mat img = noise(64, 40, 0, 99).first;
    for (int how = 0; how < 2; ++how) {
        quro::region s = three_runs();
        s.to_1();
        quro::region part = split(s);
        ASSERT_EQ(*part.refcount, 2);
        if (how == 0) {
            s = quro::region(0);
        } else {
            threshold_y(img.data, img.cols, img.rows, 0, 99, &s);
        }
        EXPECT_EQ(*part.refcount, 1) << how;
        EXPECT_EQ(s.num_parts, 0);
    }
}

TEST(RegionLifecycle, WritingACopyLeavesTheOriginalIntact) {
    const auto [img, expected] = noise(640, 480, 10, 60);
    for (int destroy_first = 0; destroy_first < 2; ++destroy_first) {
        auto a = std::make_unique<quro::region>(three_runs());
        quro::region split_copy = split(*a);
        const int* rows = a->rows;
        auto b = std::make_unique<quro::region>();
        *b = *a;
        threshold_y(img.data, img.cols, img.rows, 10, 60, b.get());
        EXPECT_EQ(a->rows, rows);
        EXPECT_EQ(region_runs(*a), region_runs(three_runs()));
        EXPECT_EQ(a->num_parts, 2);
        EXPECT_EQ(*a->refcount, 1);
        EXPECT_EQ(region_runs(*b), expected);
        (destroy_first ? a : b).reset();
    }
}

TEST(RegionLifecycle, GrowthBeyondIntMaxIsARegionError) {
    quro::region r = three_runs();
    try {
        quro::grow_to(r, INT_MAX);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "realloc failed");
    }
    EXPECT_EQ(r.capacity(), 2000);
    EXPECT_EQ(region_runs(r), region_runs(three_runs()));
    quro::grow_to(r, 4000);
    EXPECT_EQ(r.capacity(), 8000);
    EXPECT_EQ(region_runs(r), region_runs(three_runs()));
}

}  // namespace
