#include <gtest/gtest.h>

#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "quro/region/threshold.h"
#include "testing/region_masks.h"

namespace {

using quro_test::mask_runs;
using quro_test::region_runs;
using quro_test::Runs;

// Thresholding equals cv::inRange run for run, whatever the image size (one band of rows or
// several, uneven bands), grey range or image content (noise, blobs, constant).
TEST(Threshold, EqualsInRangeRunForRun) {
    struct Case { int w, h, lo, hi, content; };  // content: 0 noise, 1 blurred blobs, 2 all 200
    const Case cases[] = {{1, 1, 0, 255, 0},    {1, 1, 200, 100, 0},  {33, 7, 80, 170, 0},
                          {33, 9, 128, 255, 1}, {50, 37, 0, 127, 1},  {640, 480, 128, 255, 1},
                          {640, 480, 60, 61, 0}, {31, 20, -5, 300, 2}, {31, 20, 201, 300, 2},
                          {128, 16, 0, 200, 2}, {97, 11, 100, 180, 0}};
    cv::RNG rng(12345);
    for (const Case& c : cases) {
        cv::Mat img(c.h, c.w, CV_8UC1);
        rng.fill(img, cv::RNG::UNIFORM, 0, 256);
        if (c.content == 1) {
            cv::GaussianBlur(img, img, {0, 0}, 4);
            cv::normalize(img, img, 0, 255, cv::NORM_MINMAX);
        }
        if (c.content == 2) img.setTo(200);
        cv::Mat expected;
        cv::inRange(img, c.lo, c.hi, expected);
        for (quro::KernelPath path : {quro::KernelPath::scalar, quro::KernelPath::vector}) {
            quro::region r;
            r.width = r.height = -7;
            quro::threshold_region(img.data, c.w, c.h, c.lo, c.hi, path, r);
            EXPECT_EQ(region_runs(r), mask_runs(expected)) << c.w << "x" << c.h << " " << c.lo;
            EXPECT_EQ(r.width, c.w);
            EXPECT_EQ(r.height, c.h);
            EXPECT_TRUE(quro_test::is_canonical(r));
            if (c.content == 2 && c.hi >= 200 && c.lo <= 200) {
                EXPECT_EQ(r.col_ends[0], c.w - 1);
            }
        }
    }
}

TEST(Threshold, BadInputLeavesTheRegionUnchanged) {
    quro::region r = quro::region(0);
    unsigned char px = 9;
    threshold_y(nullptr, 1, 1, 0, 255, &r);
    threshold_y(&px, 0, 1, 0, 255, &r);
    threshold_y(&px, 1, 1, 0, 255, nullptr);
    EXPECT_EQ(r.width, -1);
    EXPECT_EQ(r.capacity(), 0);
}

TEST(RegionCreation, RunsPointsAndChordsRoundTrip) {
    // 3000 runs into a default region (2000 entries) grow it; runs and chords both hold them.
    Runs in;
    for (int i = 0; i < 3000; ++i) {
        in.rows.push_back(i / 3);
        in.begins.push_back(10 * (i % 3) - 15);
        in.ends.push_back(10 * (i % 3) - 15 + i % 7);
    }
    quro::region r;
    gen_region_runs2(&r, in.rows.data(), in.begins.data(), in.ends.data(), 3000);
    EXPECT_GE(r.capacity(), 3000);
    EXPECT_EQ(r.num_chords, 3000);
    EXPECT_EQ(region_runs(r), in);
    bool clipped = false;  // negative columns survive the padded canvas and come back
    quro::region back(0);
    quro_test::mask_to_region(quro_test::region_to_mask(r, {40, 1000}, {20, 0}, &clipped), &back,
                              {20, 0});
    EXPECT_FALSE(clipped);
    EXPECT_EQ(region_runs(back), in);
    r.num_runs = 0;  // without runs, the chords answer
    EXPECT_EQ(region_runs(r), in);
    r.to_3();
    EXPECT_EQ(r.num_runs, 3000);
    quro::region copy = r;
    gen_region_runs(&copy, {4}, {1}, {2});
    EXPECT_EQ(region_runs(r), in);
    EXPECT_EQ(region_runs(copy), (Runs{{4}, {1}, {2}}));
    gen_region_runs(&copy, {5, 6}, {1}, {2});  // lengths differ: nothing
    gen_region_runs2(&copy, nullptr, in.begins.data(), in.ends.data(), 3);
    EXPECT_EQ(region_runs(copy), (Runs{{4}, {1}, {2}}));
}

TEST(RegionCreation, PointsAppendMergedRunsPerRow) {
    quro::region r(0);
    gen_region_points(&r, {5, 6, 6, 9}, {2, 2, 2, 2});
    EXPECT_EQ(region_runs(r), (Runs{{2, 2}, {5, 9}, {6, 9}}));
    quro::region copy = r;
    gen_region_points(&copy, {-1, 0, 7, 3}, {4, 4, 3, 4});
    EXPECT_EQ(region_runs(copy), (Runs{{2, 2, 3, 4, 4}, {5, 9, 7, -1, 3}, {6, 9, 7, 0, 3}}));
    EXPECT_EQ(region_runs(r), (Runs{{2, 2}, {5, 9}, {6, 9}}));
}

}  // namespace
