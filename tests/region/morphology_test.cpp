#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "testing/region_masks.h"
#include "tests/region/region_support.h"

namespace {

using quro::chord;
using quro::region;
using quro_test::blobs;
using quro_test::element_region;
using quro_test::held;
using quro_test::make;
using quro_test::Runs;
using Chords = std::vector<chord>;

const cv::Size kCanvas(320, 320);
const cv::Point kOffset(120, 120);  // region pixel (c, r) is canvas pixel (c + 120, r + 120)

cv::Mat mask_of(const region& r) {
    bool clipped = false;
    cv::Mat m = quro_test::region_to_mask(r, kCanvas, kOffset, &clipped);
    EXPECT_FALSE(clipped);
    return m;
}

// The element as an OpenCV kernel whose box also holds the reference; anchor = ref - box corner.
struct Kernel {
    cv::Mat k;
    cv::Point anchor;
};
// Gaps (inside the element's box) are marked -1.
Kernel kernel_of(const Chords& se, cv::Point ref, const Chords& gaps = {}) {
    int r1 = ref.y, r2 = ref.y, c1 = ref.x, c2 = ref.x;
    for (const chord& c : se) {
        r1 = std::min(r1, c.row), r2 = std::max(r2, c.row);
        c1 = std::min(c1, c.col_begin), c2 = std::max(c2, c.col_end);
    }
    cv::Mat k = cv::Mat::zeros(r2 - r1 + 1, c2 - c1 + 1, CV_32S);
    for (const auto& [list, value] : {std::pair{&se, 1}, {&gaps, -1}})
        for (const chord& c : *list)
            k(cv::Rect(c.col_begin - c1, c.row - r1, c.col_end - c.col_begin + 1, 1)) = value;
    return {k, {ref.x - c1, ref.y - r1}};
}
Kernel flipped(const Kernel& k) {
    Kernel f{{}, {k.k.cols - 1 - k.anchor.x, k.k.rows - 1 - k.anchor.y}};
    cv::flip(k.k, f.k, -1);
    return f;
}
// OpenCV erodes by the kernel and dilates by the reflected kernel; hit-or-miss reads -1 as "miss".
cv::Mat morph(int op, const cv::Mat& m, Kernel k, int border = 0) {
    if (op == cv::MORPH_DILATE) k = flipped(k);
    if (op != cv::MORPH_HITMISS) k.k.convertTo(k.k, CV_8U);
    cv::Mat out;
    cv::morphologyEx(m, out, op, k.k, k.anchor, 1, cv::BORDER_CONSTANT, cv::Scalar(border));
    return out;
}
constexpr int kErode = cv::MORPH_ERODE, kDilate = cv::MORPH_DILATE;

// 1 to 4 rows (not always adjacent), each with 1 to 3 runs at least one column apart.
Chords random_element(cv::RNG& rng, int shift = 0) {
    Chords se;
    int row = rng.uniform(-3, 3) + shift;
    for (int rows = rng.uniform(1, 5); rows > 0; --rows, row += rng.uniform(1, 3)) {
        int col = rng.uniform(-5, 0) + shift;
        for (int runs = rng.uniform(1, 4); runs > 0; --runs) {
            const int end = col + rng.uniform(0, 3);
            se.emplace_back(col, end, row);
            col = end + rng.uniform(2, 4);
        }
    }
    return se;
}

// The reference that -1 stands for: the centre of the element's bounding box.
cv::Point centre(const Chords& se) {
    const Kernel k = kernel_of(se, {se[0].col_begin, se[0].row});
    return cv::Point(se[0].col_begin, se[0].row) - k.anchor + cv::Point(k.k.cols / 2, k.k.rows / 2);
}

TEST(Morphology, ElementShapes) {
    Chords se;
    EXPECT_EQ(gen_se_rect(1, 1, &se), 2);
    EXPECT_EQ(held(element_region(se)), (Runs{{0, 1}, {0, 0}, {1, 1}}));
    gen_se_cross(3, 3, &se);
    EXPECT_EQ(held(element_region(se)), (Runs{{0, 1, 2}, {1, 0, 1}, {1, 2, 1}}));
    for (const int r : {0, 1}) {  // a radius below 1 counts as 1: a plus
        gen_se_circle(r, &se);
        EXPECT_EQ(held(element_region(se)), (Runs{{-1, 0, 1}, {0, -1, 0}, {0, 1, 0}}));
    }
    gen_se_circle(5, &se);
    const Runs disc = held(element_region(se));
    EXPECT_EQ(disc.ends, (std::vector<int>{2, 3, 4, 5, 5, 5, 5, 5, 4, 3, 2}));
    EXPECT_EQ(disc.begins, (std::vector<int>{-2, -3, -4, -5, -5, -5, -5, -5, -4, -3, -2}));
    EXPECT_EQ(gen_se_rect(3, 3, nullptr), 0);
}

TEST(Morphology, SmallCases) {
    cv::RNG rng(5);
    const region a = blobs(rng, -7, 4), pixel = element_region({{3, 3, -2}});
    region out;
    erosion2_y(a, pixel, &out, 3, -2);
    EXPECT_EQ(held(out), held(a));
    dilation2_y(a, pixel, &out, 3, -2);
    EXPECT_EQ(held(out), held(a));
    Chords sq;
    gen_se_rect(3, 3, &sq);
    erosion2_y(element_region(sq), element_region(sq), &out, -1, -1);
    EXPECT_EQ(held(out), (Runs{{1}, {1}, {1}}));

    region corner = make({{0, 1, 2}, {0, 0, 0}, {3, 1, 0}}), closed;
    corner.width = corner.height = 6;
    Chords disc;
    gen_se_circle(3, &disc);
    closing_y(corner, element_region(disc), &closed);
    int r1 = -1, c1 = -1, r2 = 9, c2 = 9;
    smallest_rectangle1_y(closed, &r1, &c1, &r2, &c2);
    EXPECT_TRUE(closed.num_runs > 0 && r1 == 0 && c1 == 0 && r2 < 6 && c2 < 6);
    boundary_y(make({{5}, {7}, {7}}), &out, "outer");
    EXPECT_EQ(held(out), (Runs{{4, 5, 5, 6}, {6, 6, 8, 6}, {8, 6, 8, 8}}));
}

TEST(Morphology, UnusableElementOrTypeLeavesOutputUnchangedAndEmptyInputEmptiesIt) {
    region split = element_region({{0, 1, 0}}), out = make({{9}, {1}, {2}}), empty_in(0), none(0);
    connection_y(split, &split, 1);
    const std::function<void(const region&)> ops[] = {
        [&](const region& se) { erosion2_y(out, se, &out, -1, -1); },
        [&](const region& se) { dilation2_y(out, se, &out, 0, 0); },
        [&](const region& se) { closing_y(out, se, &out); },
        [&](const region& se) { hit_or_miss_y(out, se, se, &out, -1, -1); },
        [&](const region& se) { hit_or_miss_y2(out, se, &out, -1, -1); }};
    for (const auto& op : ops) {
        op(none);
        op(split);
        EXPECT_EQ(held(out), (Runs{{9}, {1}, {2}}));
    }
    boundary_y(out, &out, nullptr);
    boundary_y(out, &out, "inner ");
    EXPECT_EQ(held(out), (Runs{{9}, {1}, {2}}));
    out.width = 3;
    opening_y(empty_in, element_region({{0, 0, 0}}), &out);
    EXPECT_EQ(out.num_runs, 0);
    EXPECT_EQ(out.width, -1);
}

// The centre that a -1 reference resolves to may itself hold a -1; the miss element must not
// resolve it again from its own box. Here the centre is (0, -1): every pixel of the bar matches.
TEST(Morphology, HitOrMissCentreOfMinusOneIsNotResolvedAgainForTheMissElement) {
    const region bar = make({{0}, {0}, {9}});
    region out;
    hit_or_miss_y(bar, element_region({{0, 0, -1}}), element_region({{0, 0, 1}}), &out, -1, -1);
    EXPECT_EQ(held(out), held(bar));
}

TEST(Morphology, MatchesOpenCvOnRandomRegionsAndElements) {
    cv::RNG rng(2024);
    for (int trial = 0; trial < 300; ++trial) {
        region in = blobs(rng, rng.uniform(-60, 20), rng.uniform(-60, 20)), out;
        in.width = in.height = -1;
        const cv::Mat mask = mask_of(in);
        const Chords se = random_element(rng), miss = random_element(rng, rng.uniform(-12, 13));
        // A -1 in either coordinate (a third of the trials, and by chance) means the box centre.
        const bool centred = rng.uniform(0, 3) == 0;
        const int rc = centred ? -1 : rng.uniform(-8, 9), rr = centred ? -1 : rng.uniform(-8, 9);
        const cv::Point ref = rc == -1 || rr == -1 ? centre(se) : cv::Point(rc, rr);
        const region se_r = element_region(se), miss_r = element_region(miss);
        const Kernel k = kernel_of(se, ref), kc = kernel_of(se, centre(se));
        const auto check = [&](const char* what, const cv::Mat& expected) {
            EXPECT_TRUE(quro_test::is_canonical(out)) << what << trial;
            ASSERT_EQ(cv::countNonZero(mask_of(out) != expected), 0) << what << " trial " << trial;
        };
        erosion2_y(in, se_r, &out, rc, rr);
        check("erosion", morph(kErode, mask, k));
        dilation2_y(in, se_r, &out, rc, rr);
        check("dilation", morph(kDilate, mask, k));
        opening_y(in, se_r, &out);
        check("opening", morph(kDilate, morph(kErode, mask, kc), kc));
        closing_y(in, se_r, &out);
        check("closing", morph(kErode, morph(kDilate, mask, flipped(kc)), flipped(kc)));
        hit_or_miss_y(in, se_r, miss_r, &out, rc, rr);
        check("hit_or_miss",
              morph(kErode, mask, k) & morph(kErode, ~mask, kernel_of(miss, ref), 255));
        hit_or_miss_y2(in, se_r, &out, rc, rr);
        Chords gaps;
        for (std::size_t i = 1; i < se.size(); ++i)
            if (se[i].row == se[i - 1].row)
                gaps.emplace_back(se[i - 1].col_end + 1, se[i].col_begin - 1, se[i].row);
        check("hit_or_miss_y2", morph(cv::MORPH_HITMISS, mask, kernel_of(se, ref, gaps)));
        Chords disc;
        gen_se_circle(rng.uniform(1, 5), &disc);
        using Op = void (*)(const region&, const region&, region*);
        for (const auto& [type, fn] :
             {std::pair<int, Op>{cv::MORPH_OPEN, opening_y}, {cv::MORPH_CLOSE, closing_y}}) {
            fn(in, element_region(disc), &out);
            check(type == cv::MORPH_OPEN ? "disc opening" : "disc closing",
                  morph(type, mask, kernel_of(disc, {0, 0})));
        }
        boundary_y(in, &out, "inner");
        check("inner", mask & ~morph(kErode, mask, Kernel{cv::Mat::ones(3, 3, CV_32S), {1, 1}}));
    }
}

// Every operator gives the same result when out is the input, a copy sharing the input's arrays,
// or a copy sharing the element's arrays; the input and the element stay as they were.
TEST(Morphology, SameResultWhenOutputSharesArraysWithAnInput) {
    cv::RNG rng(77);
    using Op = std::function<void(const region&, const region&, region*)>;
    const region far_miss = element_region(random_element(rng, 9));
    const std::vector<Op> ops = {
        [](const region& a, const region& s, region* o) { erosion2_y(a, s, o, 1, -2); },
        [](const region& a, const region& s, region* o) { dilation2_y(a, s, o, -1, -1); },
        opening_y,
        closing_y,
        top_hat_y,
        bottom_hat_y,
        [&](const region& a, const region& s, region* o) {
            hit_or_miss_y(a, s, far_miss, o, -1, -1);
        },
        [](const region& a, const region& s, region* o) { hit_or_miss_y2(a, s, o, 0, 0); },
        [](const region& a, const region&, region* o) { boundary_y(a, o, "inner"); },
        [](const region& a, const region&, region* o) { boundary_y(a, o, "outer"); },
        [](const region& a, const region&, region* o) { boundary_y(a, o, "inner_filled"); }};
    for (int trial = 0; trial < 20; ++trial) {
        const region a = blobs(rng, rng.uniform(-20, 20), rng.uniform(-20, 20));
        const region se = element_region(random_element(rng));
        const Runs a_runs = held(a), se_runs = held(se);
        for (std::size_t i = 0; i < ops.size(); ++i) {
            region expected, same = make(a_runs), copy = make(a_runs), element = make(se_runs);
            same.width = copy.width = a.width, same.height = copy.height = a.height;
            ops[i](a, se, &expected);
            ops[i](same, se, &same);
            EXPECT_EQ(held(same), held(expected)) << "op " << i << " trial " << trial;
            region out = copy, out_se = element;
            ops[i](copy, se, &out);
            ops[i](a, element, &out_se);
            EXPECT_EQ(held(out), held(expected)) << i;
            EXPECT_EQ(held(out_se), held(expected)) << i;
            EXPECT_EQ(held(copy), a_runs) << i;
            EXPECT_EQ(held(element), se_runs) << i;
        }
    }
}

}  // namespace
