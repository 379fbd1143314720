#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "testing/region_masks.h"
#include "tests/region/region_support.h"

namespace {

using quro_test::Runs;
using quro_test::blobs;
using quro_test::held;
using quro_test::make;
using SetOp = void (*)(const quro::region&, const quro::region&, quro::region*);
const SetOp kOps[] = {union2_y, difference_y, intersection_y};

TEST(SetOperations, RowRules) {
    struct Case { int op; Runs a, b, expected; };
    const Runs empty, two{{0, 0}, {0, 6}, {4, 9}};
    const Case cases[] = {
        {0, {{0}, {0}, {4}}, {{0}, {5}, {9}}, {{0}, {0}, {9}}},  // touching runs merge
        {0, {{0}, {0}, {4}}, {{0}, {6}, {9}}, two},
        {1, {{0}, {0}, {9}}, {{0}, {3}, {4}}, {{0, 0}, {0, 5}, {2, 9}}},
        {2, {{1, 3}, {0, 0}, {9, 9}}, {{2}, {0}, {9}}, empty},  // disjoint rows
        {0, empty, two, two}, {0, two, empty, two}, {1, two, empty, two}, {1, empty, two, empty},
        {2, two, {{0}, {3}, {7}}, {{0, 0}, {3, 6}, {4, 7}}}};
    for (const Case& c : cases) {
        quro::region out;
        kOps[c.op](make(c.a), make(c.b), &out);
        EXPECT_EQ(held(out), c.expected) << "op " << c.op << " a " << c.a.rows.size();
    }
}

// Against OpenCV mask operations on a canvas padded for the shifts: exact equality, canonical runs,
// and the same result written in place into a or b (alternately) and into a copy of a.
TEST(SetOperations, EqualMaskOperationsOnShiftedBlobs) {
    cv::RNG rng(30);
    const cv::Point pad(40, 40);
    for (int trial = 0; trial < 200; ++trial) {
        const quro::region a = blobs(rng, 0, 0);
        const quro::region b = blobs(rng, rng.uniform(-30, 30), rng.uniform(-30, 30));
        const cv::Mat ma = quro_test::region_to_mask(a, {150, 150}, pad);
        const cv::Mat mb = quro_test::region_to_mask(b, {150, 150}, pad);
        const cv::Mat expected[3] = {ma | mb, ma & ~mb, ma & mb};
        for (int op = 0; op < 3; ++op) {
            quro::region out, in_place = make(held(trial % 2 ? b : a)), copy = a;
            kOps[op](a, b, &out);
            kOps[op](trial % 2 ? a : in_place, trial % 2 ? in_place : b, &in_place);
            kOps[op](a, b, &copy);
            ASSERT_EQ(held(out), quro_test::mask_runs(expected[op], pad)) << trial << op;
            EXPECT_TRUE(quro_test::is_canonical(out));
            EXPECT_EQ(held(in_place), held(out));
            EXPECT_EQ(held(copy), held(out));
        }
    }
}

TEST(SetOperations, OutputSharingAnInputKeepsTheInputsCopiesIntact) {
    cv::RNG rng(5);
    quro::region a = blobs(rng, 0, 0), b = blobs(rng, 3, -2), expected;
    const Runs a_runs = held(a);
    a.to_1();
    a.width = 77;
    quro::region c = a;
    difference_y(a, b, &c);
    difference_y(a, b, &expected);
    EXPECT_EQ(held(a), a_runs);
    EXPECT_EQ(held(c), held(expected));
    EXPECT_EQ(*a.refcount + *c.refcount, 2);
    EXPECT_TRUE(c.chords != a.chords && c.num_chords == a.num_chords && c.width == 77);
    EXPECT_EQ(std::memcmp(c.chords, a.chords, sizeof(quro::chord) * a.num_chords), 0);
    union2_y(a, b, &expected);
    union2_y(a, b, &a);
    EXPECT_EQ(held(a), held(expected));
    intersection_y(a, a, &a);
    EXPECT_EQ(held(a), held(expected));
}

TEST(SetOperations, SplitInputLeavesOutBitIdentical) {
    const quro::region whole = make({{0, 1}, {2, 0}, {4, 3}});
    quro::region split = whole, out = make({{5}, {1}, {1}});
    split.num_parts = 1;  // only the count is read; reset before anything frees through it
    unsigned char before[sizeof(quro::region)];
    std::memcpy(before, &out, sizeof out);
    for (SetOp op : kOps) {
        op(split, whole, &out);
        op(whole, split, &out);
        EXPECT_EQ(std::memcmp(before, &out, sizeof out), 0);
    }
    split.num_parts = 0;
    EXPECT_EQ(held(out), (Runs{{5}, {1}, {1}}));
}

// Unsorted runs give some result, but never a read outside the runs (the sanitizer build checks).
TEST(SetOperations, UnsortedInputStaysWithinItsRuns) {
    const quro::region a = make({{5, 1, 5, 0}, {9, 2, 0, 7}, {12, 3, 4, 8}});
    const quro::region b = make({{1, 5, 0}, {6, 1, 3}, {6, 9, 4}});
    for (SetOp op : kOps) {
        quro::region out;
        op(a, b, &out);
        EXPECT_LE(out.num_runs, a.num_runs + b.num_runs);
    }
}

}  // namespace
