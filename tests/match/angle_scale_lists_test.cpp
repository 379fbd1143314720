#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "testing/records.h"

namespace {

using quro::ShapeModelRecord;

// A record of `levels` levels whose level radii are all `radius` (the points do not matter here).
ShapeModelRecord record_with_radius(float radius, int levels = 3) {
    std::vector<std::vector<quro::Feature>> pts(static_cast<std::size_t>(levels));
    ShapeModelRecord rec = quro_test::record_with_levels(pts);
    for (auto& r : rec.level_radius) r = radius;
    return rec;
}

// A one-level record whose outline box is (min_x, max_x, min_y, max_y).
ShapeModelRecord record_with_box(float min_x, float max_x, float min_y, float max_y) {
    ShapeModelRecord rec = quro_test::record_with_levels({{}, {}});
    for (std::size_t i = 0; i < 2; ++i) {
        rec.box_min_x[i] = min_x;
        rec.box_max_x[i] = max_x;
        rec.box_min_y[i] = min_y;
        rec.box_max_y[i] = max_y;
    }
    return rec;
}

TEST(AngleStep, FollowsTheChordOfTheLevelRadius) {
    const ShapeModelRecord rec = record_with_radius(40.f);
    EXPECT_NEAR(quro::angle_step(rec, 3), 2.149, 0.001);  // top: chord 1.5
    const double below = std::acos(1.0 - 4.0 / (2.0 * 40.0 * 40.0)) * 180.0 / M_PI;
    EXPECT_NEAR(quro::angle_step(rec, 2), below, 1e-4);  // lower levels: chord 2
    EXPECT_NEAR(quro::angle_step(rec, 1), below, 1e-4);
}

TEST(AngleStep, SmallModelsAreCappedAt11_25) {
    EXPECT_FLOAT_EQ(quro::angle_step(record_with_radius(7.6f), 3), 11.25f);
    EXPECT_FLOAT_EQ(quro::angle_step(record_with_radius(10.1f), 2), 11.25f);
    // Just above the limits the formula takes over.
    EXPECT_LT(quro::angle_step(record_with_radius(7.7f), 3), 11.25f);
    EXPECT_LT(quro::angle_step(record_with_radius(10.3f), 2), 11.25f);
}

TEST(AngleStep, RadiusTooSmallForTheChordGivesTheCap) {
    EXPECT_FLOAT_EQ(quro::angle_step(record_with_radius(0.f), 3), 11.25f);
    EXPECT_FLOAT_EQ(quro::angle_step(record_with_radius(0.5f), 1), 11.25f);  // below d / 2
    EXPECT_FLOAT_EQ(
        quro::angle_step(record_with_radius(std::numeric_limits<float>::quiet_NaN()), 1), 11.25f);
}

TEST(AngleList, FullTurnDropsTheRepeatedStart) {
    const ShapeModelRecord rec = record_with_radius(40.f);
    std::vector<float> angles;
    quro::angle_list(rec, angles, /*level=*/3, /*extent=*/360.f, /*start=*/0.f);
    ASSERT_EQ(angles.size(), 168u);
    EXPECT_EQ(angles.front(), 0.f);
    for (std::size_t i = 1; i < angles.size(); ++i) {
        EXPECT_NEAR(angles[i] - angles[i - 1], 2.142857, 1e-4) << i;
    }
    for (float a : angles) EXPECT_GT(std::fabs(a - 360.f), 1.f);
}

TEST(AngleList, ValuesAreRepeatedSinglePrecisionSums) {
    const ShapeModelRecord rec = record_with_radius(40.f);
    std::vector<float> angles;
    quro::angle_list(rec, angles, /*level=*/3, /*extent=*/100.f, /*start=*/-37.3f);
    ASSERT_GT(angles.size(), 2u);
    const float step = angles[1] - angles[0];
    float v = -37.3f;
    const float exact_step = 100.f / static_cast<float>(angles.size() - 1);
    for (std::size_t i = 0; i < angles.size(); ++i) {
        EXPECT_EQ(angles[i], v) << i;
        v += exact_step;
    }
    EXPECT_NEAR(step, exact_step, 1e-5);
    EXPECT_NEAR(angles.back(), 62.7f, 1e-3);  // a partial turn keeps its last value
}

TEST(AngleList, ZeroExtentGivesTheStartOnly) {
    std::vector<float> angles{1.f, 2.f, 3.f};
    quro::angle_list(record_with_radius(40.f), angles, /*level=*/3, /*extent=*/0.f, /*start=*/17.f);
    ASSERT_EQ(angles.size(), 1u);
    EXPECT_EQ(angles[0], 17.f);
}

TEST(AngleList, AnExactMultipleKeepsTheStep) {
    const ShapeModelRecord rec = record_with_radius(5.f);  // step 11.25
    std::vector<float> angles;
    quro::angle_list(rec, angles, /*level=*/2, /*extent=*/45.f, /*start=*/10.f);
    ASSERT_EQ(angles.size(), 5u);
    for (std::size_t i = 0; i < angles.size(); ++i) {
        EXPECT_FLOAT_EQ(angles[i], 10.f + 11.25f * static_cast<float>(i));
    }
    EXPECT_FLOAT_EQ(angles.back(), 55.f);
    // Within 0.001 of a multiple still counts as one.
    quro::angle_list(rec, angles, /*level=*/2, /*extent=*/45.0008f, /*start=*/0.f);
    ASSERT_EQ(angles.size(), 5u);
    EXPECT_FLOAT_EQ(angles[1], 11.25f);
}

TEST(AngleList, NegativeOrNonFiniteExtentGivesTheStartOnly) {
    const ShapeModelRecord rec = record_with_radius(40.f);
    std::vector<float> angles;
    for (float extent : {-10.f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity()}) {
        quro::angle_list(rec, angles, /*level=*/3, /*extent=*/extent, /*start=*/5.f);
        ASSERT_EQ(angles.size(), 1u) << extent;
        EXPECT_EQ(angles[0], 5.f);
    }
}

TEST(AngleList, AbsurdlyLongListsAreRefused) {
    std::vector<float> angles;
    EXPECT_THROW(quro::angle_list(record_with_radius(40.f), angles, /*level=*/3, /*extent=*/1e12f,
                                  /*start=*/0.f),
                 std::length_error);
    // Foreseen without laying the list (top step 2.149: 2^24 values at an extent of ~3.6e7).
    for (const float extent : {1e12f, 4e7f, 3.4e7f, 360.f, -1.f, NAN})
        EXPECT_EQ(quro::angle_list_fits(record_with_radius(40.f), 3, extent), !(extent > 3.5e7f));
}

TEST(ScaleStep, StoredStepGrowsWithTheLevel) {
    ShapeModelRecord rec = record_with_radius(40.f);
    rec.scale_step = 0.05f;
    rec.scale_row_step = 0.01f;
    rec.scale_col_step = 0.02f;
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleUniform), 0.05f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 2, quro::kScaleUniform), 0.1f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 3, quro::kScaleRow), 0.04f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 3, quro::kScaleCol), 0.08f);
    // A stored step far below what moves the outermost point (40 px) by a pixel is taken at an
    // eighth of the automatic step: a model file's 5e-7 asked for a million top-level poses.
    rec.level_features[0] = {{0.f, 40.f, 1.f, 0.f}, {0.f, -40.f, 1.f, 0.f}};
    rec.scale_row_step = 4.76837158e-7f;
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleRow), 2.f / 40.f / 8.f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleUniform), 0.05f);  // coarse enough
}

TEST(ScaleStep, AutomaticStepComesFromTheOutlineBox) {
    const ShapeModelRecord rec = record_with_box(-30.f, 44.5f, -19.8f, 20.3f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleRow), 2.f / 21.f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleCol), 2.f / 45.f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleUniform), 2.f / 45.f);
    // The uniform kind is the smaller one whichever axis is longer.
    const ShapeModelRecord tall = record_with_box(-5.f, 5.f, -60.f, 10.f);
    EXPECT_FLOAT_EQ(quro::scale_step(tall, 2, quro::kScaleUniform), 2.f / 60.f);
    EXPECT_FLOAT_EQ(quro::scale_step(tall, 2, quro::kScaleCol), 2.f / 5.f);
}

TEST(ScaleStep, AutomaticStepFollowsThePointsNotAStoredBoxBeyondThem) {
    // A model file may hold a box edge of 2^24 about points within 20 pixels: a step of 1.2e-7.
    ShapeModelRecord rec = record_with_box(-16777216.f, 16777216.f, -16777216.f, 16777216.f);
    rec.level_features[0] = {{20.f, 0.f, 1.f, 0.f}, {0.f, -7.5f, 0.f, 1.f}};
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleCol), 2.f / 20.f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 1, quro::kScaleRow), 2.f / 8.f);
    EXPECT_FLOAT_EQ(quro::scale_step(rec, 2, quro::kScaleRow), 2.f / 16777216.f);  // no points
}

TEST(ScaleStep, BoxNotStraddlingTheReferencePointUsesTheFartherBound) {
    // Corner outlines keep their corner at the reference point: max_y = 0.
    EXPECT_FLOAT_EQ(quro::scale_step(record_with_box(0.f, 25.f, -30.f, 0.f), 1, quro::kScaleRow),
                    2.f / 30.f);
    EXPECT_FLOAT_EQ(quro::scale_step(record_with_box(-25.f, 0.f, 0.f, 30.f), 1, quro::kScaleCol),
                    2.f / 25.f);
    // A degenerate box does not give an infinite step.
    const float s = quro::scale_step(record_with_box(0.f, 0.f, 0.f, 0.f), 1, quro::kScaleUniform);
    EXPECT_TRUE(std::isfinite(s));
    EXPECT_FLOAT_EQ(s, 2.f);
}

TEST(ScaleStep, UnknownKindGivesZero) {
    const ShapeModelRecord rec = record_with_box(-10.f, 10.f, -10.f, 10.f);
    EXPECT_EQ(quro::scale_step(rec, 1, 7), 0.f);
    EXPECT_EQ(quro::scale_step(rec, 1, -1), 0.f);
}

TEST(ScaleList, StoredStepAtLevelTwo) {
    ShapeModelRecord rec = record_with_radius(40.f);
    rec.scale_step = 0.05f;
    std::vector<float> scales;
    quro::scale_list(rec, scales, /*level=*/2, /*max=*/1.1f, /*kind=*/quro::kScaleUniform,
                     /*min=*/0.9f);
    ASSERT_EQ(scales.size(), 3u);
    EXPECT_NEAR(scales[0], 0.9, 1e-6);
    EXPECT_NEAR(scales[1], 1.0, 1e-6);
    EXPECT_NEAR(scales[2], 1.1, 1e-6);
}

TEST(ScaleList, NeverDropsTheLastValue) {
    ShapeModelRecord rec = record_with_radius(40.f);
    rec.scale_step = 0.5f;
    std::vector<float> scales;
    // 360 apart: an angle list would drop the last value, a scale list keeps it.
    quro::scale_list(rec, scales, /*level=*/1, /*max=*/361.f, /*kind=*/quro::kScaleUniform,
                     /*min=*/1.f);
    ASSERT_EQ(scales.size(), 721u);
    EXPECT_NEAR(scales.back(), 361.f, 1e-2);
}

TEST(ScaleList, EqualBoundsGiveOneValue) {
    std::vector<float> scales;
    quro::scale_list(record_with_box(-10.f, 10.f, -10.f, 10.f), scales, /*level=*/1, /*max=*/1.2f,
                     /*kind=*/quro::kScaleRow, /*min=*/1.2f);
    ASSERT_EQ(scales.size(), 1u);
    EXPECT_EQ(scales[0], 1.2f);
}

TEST(ScaleList, ReversedBoundsOrUnknownKindGiveTheMinimumOnly) {
    const ShapeModelRecord rec = record_with_box(-10.f, 10.f, -10.f, 10.f);
    std::vector<float> scales;
    quro::scale_list(rec, scales, /*level=*/1, /*max=*/0.8f, /*kind=*/quro::kScaleUniform,
                     /*min=*/1.2f);
    ASSERT_EQ(scales.size(), 1u);
    EXPECT_EQ(scales[0], 1.2f);
    quro::scale_list(rec, scales, /*level=*/1, /*max=*/1.5f, /*kind=*/7, /*min=*/0.5f);
    ASSERT_EQ(scales.size(), 1u);
    EXPECT_EQ(scales[0], 0.5f);
}

TEST(ScaleList, CorruptBoxGivesTheMinimumOnly) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const ShapeModelRecord rec = record_with_box(-10.f, 10.f, nan, 10.f);
    std::vector<float> scales;
    quro::scale_list(rec, scales, /*level=*/1, /*max=*/1.5f, /*kind=*/quro::kScaleUniform,
                     /*min=*/0.5f);
    ASSERT_EQ(scales.size(), 1u);
    EXPECT_EQ(scales[0], 0.5f);
    // The column step alone is still usable.
    quro::scale_list(rec, scales, /*level=*/1, /*max=*/1.5f, /*kind=*/quro::kScaleCol,
                     /*min=*/0.5f);
    EXPECT_EQ(scales.size(), 6u);
}

}  // namespace
