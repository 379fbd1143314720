#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "quro/region/components.h"
#include "testing/region_masks.h"

namespace {

using quro_test::Runs;

// Blurred noise cut at a random grey level, as a mask and as r: many components of every size,
// with holes, one-pixel lines, diagonal touches and lone pixels.
cv::Mat random_mask(cv::RNG& rng, quro::region* r) {
    cv::Mat img(rng.uniform(1, 48), rng.uniform(1, 56), CV_8UC1);
    rng.fill(img, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(img, img, {0, 0}, rng.uniform(0.3, 3.0));
    cv::normalize(img, img, 0, 255, cv::NORM_MINMAX);
    const cv::Mat mask = img > rng.uniform(60, 200);
    quro_test::mask_to_region(mask, r);
    return mask;
}

quro::region from_runs(const Runs& r) {
    quro::region out;
    gen_region_runs(&out, r.rows, r.begins, r.ends);
    return out;
}

TEST(Components, CountsOfSmallCases) {
    struct Case { Runs runs; int tolerance, expected; };
    const Runs diagonal{{0, 1}, {0, 3}, {2, 5}}, both_sides{{0, 0, 1}, {0, 4, 2}, {1, 5, 3}};
    const Case cases[] = {{diagonal, 1, 1}, {diagonal, 0, 2}, {{{3, 5}, {0, 0}, {9, 9}}, 1, 2},
                          {both_sides, 1, 1}, {both_sides, 0, 3}, {{}, 1, -1}};
    for (const Case& c : cases) {
        quro::region in = c.runs.rows.empty() ? quro::region() : from_runs(c.runs), out;
        EXPECT_EQ(connection_y(in, &out, c.tolerance), c.expected);
        in.num_parts = 1;  // split: only the count is read
        EXPECT_EQ(connection_y(in, &out, c.tolerance), -1);
        in.num_parts = 0;
    }
}

// Against cv::connectedComponentsWithStats: the same count, a pixel-label bijection, and per
// component the same area, box and centroid; parts numbered in raster order of their first pixel.
TEST(Components, EqualOpenCvComponentsOnRandomMasks) {
    cv::RNG rng(31);
    for (int trial = 0; trial < 400; ++trial) {
        quro::region in, out;
        const cv::Mat mask = random_mask(rng, &in);
        cv::Mat labels, stats, centroids;
        const int expected = cv::connectedComponentsWithStats(mask, labels, stats, centroids,
                                                              trial % 2 ? 8 : 4, CV_32S) - 1;
        const int count = connection_y(in, &out, trial % 2);
        ASSERT_EQ(count, expected ? expected : -1) << trial;
        std::vector<int> seen(static_cast<std::size_t>(expected) + 1, 0);
        for (int k = 0; k < count; ++k) {
            const quro::region& part = *out.parts[k];
            const cv::Mat m = quro_test::region_to_mask(part, mask.size());
            const int l = labels.at<int>(part.rows[0], part.col_begins[0]);
            EXPECT_EQ(seen[l]++, 0);
            EXPECT_EQ(cv::countNonZero(m != (labels == l)), 0) << trial << " part " << k;
            using Stats = cv::Vec<int, 5>;  // left, top, width, height, area
            EXPECT_EQ(Stats(part.col1, part.row1, part.col2 - part.col1 + 1,
                            part.row2 - part.row1 + 1, part.area), Stats(stats.ptr<int>(l)));
            EXPECT_NEAR(part.centroid_x, centroids.at<double>(l, 0), 1e-9);
            EXPECT_NEAR(part.centroid_y, centroids.at<double>(l, 1), 1e-9);
            const quro::region& before = *out.parts[std::max(k - 1, 0)];
            EXPECT_TRUE(k == 0 || std::pair(before.rows[0], before.col_begins[0]) <
                                      std::pair(part.rows[0], part.col_begins[0]));
        }
    }
}

// Filled = not reached by a 4-connected flood from outside the mask, padded by one pixel.
TEST(FillUp, EqualsTheComplementOfTheOutsideFlood) {
    cv::RNG rng(32);
    for (int trial = 0; trial < 400; ++trial) {
        quro::region out;
        cv::Mat flooded;
        cv::copyMakeBorder(random_mask(rng, &out), flooded, 1, 1, 1, 1,
                           cv::BORDER_CONSTANT, 0);
        cv::floodFill(flooded, {0, 0}, 128, nullptr, 0, 0, 4);
        fill_up_y(out, &out);
        const cv::Mat filled = quro_test::region_to_mask(out, flooded.size(), {1, 1});
        EXPECT_EQ(cv::countNonZero(filled != (flooded != 128)), 0) << trial;
        EXPECT_TRUE(quro_test::is_canonical(out));
    }
    // A ring gets its hole; a C shape open to its box stays as it is.
    const Runs ring{{0, 1, 1, 2}, {0, 0, 2, 0}, {2, 0, 2, 2}}, c{{0, 1, 2}, {0, 0, 0}, {2, 0, 2}};
    quro::region out;
    fill_up_y(from_runs(ring), &out);
    EXPECT_EQ(quro_test::region_runs(out), (Runs{{0, 1, 2}, {0, 0, 0}, {2, 2, 2}}));
    fill_up_y(from_runs(c), &out);
    EXPECT_EQ(quro_test::region_runs(out), c);
}

// Shuffled runs of random masks (and two runs tied on row and start) sort back into order.
TEST(SortRuns, RestoresRowColumnOrderWithTiesByEnd) {
    cv::RNG rng(33);
    for (int trial = 0; trial < 50; ++trial) {
        quro::region r;
        Runs runs = quro_test::mask_runs(random_mask(rng, &r)), mixed;
        std::vector<cv::Vec3i> shuffled{{0, -9, -4}, {0, -9, -8}};
        for (std::size_t i = 0; i < runs.rows.size(); ++i)
            shuffled.emplace_back(runs.rows[i], runs.begins[i], runs.ends[i]);
        cv::randShuffle(shuffled, 1.0, &rng);
        for (const cv::Vec3i& v : shuffled)
            mixed.rows.push_back(v[0]), mixed.begins.push_back(v[1]), mixed.ends.push_back(v[2]);
        quro::sort_y(mixed.rows.data(), mixed.begins.data(), mixed.ends.data(),
                     static_cast<int>(shuffled.size()));
        runs.rows.insert(runs.rows.begin(), {0, 0});
        runs.begins.insert(runs.begins.begin(), {-9, -9});
        runs.ends.insert(runs.ends.begin(), {-8, -4});
        EXPECT_EQ(mixed, runs) << trial;
    }
}

TEST(Components, ConnectionReleasesEarlierPartsAndLeavesCopiesTheirs) {
    quro::region out;
    ASSERT_EQ(connection_y(from_runs({{0, 2}, {0, 0}, {3, 3}}), &out, 1), 2);
    const quro::region copy = out;
    ASSERT_EQ(connection_y(from_runs({{0}, {5}, {6}}), &out, 1), 1);  // the sanitizer sees a leak
    ASSERT_EQ(copy.num_parts, 2);
    EXPECT_EQ(quro_test::region_runs(*copy.parts[1]), (Runs{{2}, {0}, {3}}));
    EXPECT_EQ(quro_test::region_runs(*out.parts[0]), (Runs{{0}, {5}, {6}}));
}

// Unsorted runs give some answer, never an access outside the runs (the sanitizer build checks).
TEST(Components, UnsortedRunsStayWithinTheirRuns) {
    quro::region r = from_runs({{9, 2, 2, 0, 1}, {4, 8, 0, 1, 3}, {6, 9, 2, 5, 3}}), out;
    std::vector<int> cols, rows;
    EXPECT_GE(connection_y(r, &out, 1), 1);
    fill_up_y(r, &out);
    compute_feature_y(&r);
    get_region_contour(r, &cols, &rows);
    EXPECT_EQ(cols.size(), rows.size());
}

double line_gap(double a, double b) {  // between angles of lines in degrees (modulo 180)
    const double d = std::fmod(std::fabs(a - b), 180.0);
    return std::min(d, 180.0 - d);
}

TEST(RegionFeatures, SmallShapes) {
    // want: area, circularity, ellipse ra and angle, rect x, y, angle, len1 and len2, ellipse rb
    struct Case { Runs runs; double want[10]; };
    const double line = 5 / (4 * CV_PI), ra = std::sqrt(8.0);
    const Case cases[] = {
        {{{4}, {7}, {7}}, {1, 0, 0, 0, 7, 4, 0, 0, 0, 0}},                         // one pixel
        {{{4}, {7}, {8}}, {2, 1, 1, 0, 7.5, 4, 0, 0.5, 0, 0}},                     // side by side
        {{{4, 5}, {7, 7}, {7, 7}}, {2, 1, 1, -90, 7, 4.5, -90, 0.5, 0, 0}},        // one above
        {{{4}, {0}, {4}}, {5, line, ra, 0, 2, 4, 0, 2, 0, 0}},                     // a row of five
        {{{0, 1, 2, 3, 4}, {3, 3, 3, 3, 3}, {3, 3, 3, 3, 3}},
         {5, line, ra, -90, 3, 2, 90, 2, 0, 0}}};
    for (const Case& c : cases) {
        quro::region r = from_runs(c.runs);
        compute_feature_y(&r);
        const double got[] = {double(r.area), r.circularity, r.ellipse_ra, r.ellipse_angle,
                              r.rect_x, r.rect_y, r.rect_angle, r.rect_len1, r.rect_len2,
                              r.ellipse_rb};
        for (int i = 0; i < 10; ++i) EXPECT_NEAR(got[i], c.want[i], 1e-12) << c.want[0] << " " << i;
    }
    cv::Mat m = cv::Mat::zeros(25, 25, CV_8UC1);
    cv::circle(m, {12, 12}, 10, 255, cv::FILLED);
    quro::region disc = from_runs(quro_test::mask_runs(m));
    compute_feature_y(&disc);
    EXPECT_EQ(disc.circularity, 1.0);
}

// Every component of random masks: moments against cv::moments, the rectangle against
// cv::minAreaRect of the row ends (area, and holding them all), the contour against
// cv::findContours (reversed, from the start pixel) and the point test against the mask.
TEST(RegionFeatures, EqualOpenCvOnComponentsOfRandomMasks) {
    cv::RNG rng(106);
    for (int trial = 0; trial < 400; ++trial) {
        quro::region in, split;
        const cv::Mat mask = random_mask(rng, &in);
        const int count = connection_y(in, &split, 1);
        for (int k = 0; k < count; ++k) {
            const quro::region& part = *split.parts[k];
            const cv::Mat pm = quro_test::region_to_mask(part, mask.size());
            const cv::Moments mo = cv::moments(pm, true);
            const double mxx = mo.mu20 / mo.m00, myy = mo.mu02 / mo.m00, mxy = mo.mu11 / mo.m00;
            const double p = std::sqrt(4 * mxy * mxy + (myy - mxx) * (myy - mxx));
            if (part.area > 2) {
                EXPECT_NEAR(part.ellipse_ra, std::sqrt(2 * (mxx + myy + p)), 1e-9);
                EXPECT_NEAR(part.ellipse_rb, std::sqrt(std::max(0.0, 2 * (mxx + myy - p))), 1e-6);
                const double angle = -std::atan2(2 * mxy, mxx - myy) * 90 / CV_PI;
                EXPECT_LT(line_gap(part.ellipse_angle, angle), 1e-9);
            }
            std::vector<cv::Point> ends;
            for (int i = 0; i < part.num_runs; ++i) {
                ends.emplace_back(part.col_begins[i], part.rows[i]);
                ends.emplace_back(part.col_ends[i], part.rows[i]);
            }
            // A smallest rectangle (several may tie), turned counter-clockwise on screen.
            const cv::RotatedRect rr = cv::minAreaRect(ends);
            EXPECT_NEAR(4 * part.rect_len1 * part.rect_len2, rr.size.area(), 1e-3) << trial;
            const double t = part.rect_angle * CV_PI / 180;
            const cv::Point2d c(part.rect_x, part.rect_y), u(cos(t), -sin(t)), v(-u.y, u.x);
            for (const cv::Point2d q : ends) {
                EXPECT_LE(std::fabs((q - c).dot(u)), part.rect_len1 + 1e-9) << trial << " " << k;
                EXPECT_LE(std::fabs((q - c).dot(v)), part.rect_len2 + 1e-9) << trial << " " << k;
            }
            EXPECT_TRUE((part.rect_angle > -90 && part.rect_angle <= 90) || part.area == 2);

            std::vector<std::vector<cv::Point>> contours;
            cv::findContours(pm, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            ASSERT_EQ(contours.size(), 1u);
            std::vector<cv::Point> expected(contours[0].rbegin(), contours[0].rend()), got;
            std::vector<int> cols{-9}, rows{-9};  // appended after what is there
            get_region_contour(part, &cols, &rows);
            for (std::size_t i = 1; i < cols.size(); ++i) got.emplace_back(cols[i], rows[i]);
            bool matched = false;  // from any occurrence of the start pixel
            for (std::size_t s = 0; s < expected.size() && !matched; ++s) {
                std::rotate(expected.begin(), expected.begin() + 1, expected.end());
                matched = expected == got;
            }
            EXPECT_TRUE(matched) << trial << " part " << k;
        }
        for (int y = -1; y <= mask.rows; ++y)
            for (int x = -1; x <= mask.cols + 1; ++x) {
                int inside = -1;
                test_region_point(in, x, y, &inside);
                const bool on = cv::Rect(0, 0, mask.cols, mask.rows).contains({x, y}) &&
                                mask.at<unsigned char>(y, x) != 0;
                ASSERT_EQ(inside, on ? 1 : 0) << trial << " " << x << "," << y;
            }
    }
}

}  // namespace
