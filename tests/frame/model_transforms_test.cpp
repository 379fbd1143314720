// The outline transforms against a plain double-precision reference, their sampling steps, and the
// directions of circle models under separate row and column scales.
#include "quro/model_transforms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "quro/cpu.h"
#include "quro/model_pose.h"
#include "testing/records.h"

namespace {

using quro::Feature;
using quro::FeatureI;
using quro::ModelPointSet;

constexpr double kPi = 3.14159265358979323846;

// Reference pose in double precision, from the float angle converted the library's way.
struct RefPose {
    double X, Y, gx, gy;
};
RefPose reference_pose(const Feature& p, float angle, float sr, float sc) {
    const double theta = static_cast<double>(angle * 0.017453292f);
    const double c = std::cos(theta), s = std::sin(theta);
    const double xs = static_cast<double>(p.x) * sc, ys = static_cast<double>(p.y) * sr;
    return RefPose{c * xs + s * ys, c * ys - s * xs, c * p.gx + s * p.gy, c * p.gy - s * p.gx};
}

int round_away(double v) {
    return static_cast<int>(v >= 0 ? v + 0.5 : v - 0.5);
}
bool near_half(double v) {
    return std::fabs(std::fabs(v - std::trunc(v)) - 0.5) < 1e-3;
}

std::vector<Feature> random_points(std::mt19937& rng, int n, float extent) {
    std::uniform_real_distribution<float> pos(-extent, extent);
    std::uniform_real_distribution<float> ang(0.f, 6.2831853f);
    std::vector<Feature> pts;
    for (int i = 0; i < n; ++i) {
        const float a = ang(rng);
        pts.emplace_back(pos(rng), pos(rng), std::sin(a), std::cos(a));
    }
    return pts;
}

// A circle outline of radius r with n points, starting at the top (x = -0.0f, y = -r) and running
// clockwise; directions point inward, or outward when `flipped`.
quro::ShapeModelRecord circle_record(float r, int n, bool flipped) {
    std::vector<Feature> pts;
    for (int i = 0; i < n; ++i) {
        const float t = static_cast<float>(2.0 * kPi * i / n);
        const float x = -r * std::sin(t);
        const float y = -r * std::cos(t);
        const float sign = flipped ? -1.f : 1.f;
        pts.emplace_back(x, y, sign * std::sin(t), sign * std::cos(t));
    }
    auto rec = quro_test::record_with_levels({pts}, 2 * static_cast<int>(r) + 8,
                                             2 * static_cast<int>(r) + 8);
    rec.shape_kind = 1;
    return rec;
}

template <class P>
void expect_box_of_rounded(const ModelPointSet<P>& set) {
    int mnx = INT_MAX, mny = INT_MAX, mxx = INT_MIN, mxy = INT_MIN;
    for (const P& p : set.points) {
        const int ix = quro::round_half_away(static_cast<float>(p.x));
        const int iy = quro::round_half_away(static_cast<float>(p.y));
        mnx = std::min(mnx, ix);
        mny = std::min(mny, iy);
        mxx = std::max(mxx, ix);
        mxy = std::max(mxy, iy);
    }
    EXPECT_EQ(set.min_x, mnx);
    EXPECT_EQ(set.min_y, mny);
    EXPECT_EQ(set.max_x, mxx);
    EXPECT_EQ(set.max_y, mxy);
}

// ---- Pose against the reference ----------------------------------------------------------------

TEST(TransformPose, FloatTransformsMatchTheDoubleReferenceOnRandomPoses) {
    std::mt19937 rng(7);
    const auto rec = quro_test::record_with_levels({random_points(rng, 300, 150.f)});
    std::uniform_real_distribution<float> angle(-400.f, 400.f), scale(0.3f, 2.5f);
    ModelPointSet<Feature> set;
    for (int trial = 0; trial < 40; ++trial) {
        const float a = angle(rng), sr = scale(rng), sc = scale(rng);
        quro::rotated_template_aniso(rec, a, 1, sr, sc, 1, set);
        ASSERT_EQ(set.points.size(), 300u);
        for (std::size_t i = 0; i < set.points.size(); ++i) {
            const RefPose ref = reference_pose(rec.level_features[0][i], a, sr, sc);
            EXPECT_NEAR(set.points[i].x, ref.X, 2e-4 * (1 + std::fabs(ref.X)));
            EXPECT_NEAR(set.points[i].y, ref.Y, 2e-4 * (1 + std::fabs(ref.Y)));
            EXPECT_NEAR(set.points[i].gx, ref.gx, 1e-5);
            EXPECT_NEAR(set.points[i].gy, ref.gy, 1e-5);
        }
        expect_box_of_rounded(set);
        EXPECT_EQ(set.level_width, 64);
        EXPECT_EQ(set.level_height, 48);

        // The uniform variant is the aniso one with equal scales.
        ModelPointSet<Feature> uni, same;
        quro::rotated_template(rec, a, 1, sc, 1, uni);
        quro::rotated_template_aniso(rec, a, 1, sc, sc, 1, same);
        ASSERT_EQ(uni.points.size(), same.points.size());
        for (std::size_t i = 0; i < uni.points.size(); ++i) {
            EXPECT_EQ(uni.points[i].x, same.points[i].x);
            EXPECT_EQ(uni.points[i].gy, same.points[i].gy);
        }
    }
}

TEST(TransformPose, IntegerTransformsRoundTheReferenceHalfAwayFromZero) {
    std::mt19937 rng(11);
    const auto rec = quro_test::record_with_levels({random_points(rng, 300, 150.f)});
    std::uniform_real_distribution<float> angle(-180.f, 180.f), scale(0.3f, 2.5f);
    ModelPointSet<FeatureI> set;
    ModelPointSet<Feature> fset;
    for (int trial = 0; trial < 40; ++trial) {
        const float a = angle(rng), sr = scale(rng), sc = scale(rng);
        quro::transform_model_points_aniso(rec, a, 1, sr, sc, 1, set);
        quro::rotated_template_aniso(rec, a, 1, sr, sc, 1, fset);
        ASSERT_EQ(set.points.size(), 300u);
        for (std::size_t i = 0; i < set.points.size(); ++i) {
            const RefPose ref = reference_pose(rec.level_features[0][i], a, sr, sc);
            const FeatureI& p = set.points[i];
            if (!near_half(ref.X)) {
                EXPECT_EQ(p.x, round_away(ref.X));
            }
            if (!near_half(ref.Y)) {
                EXPECT_EQ(p.y, round_away(ref.Y));
            }
            EXPECT_EQ(p.tag, 0);
            EXPECT_NEAR(p.gx, ref.gx, 1e-5);
            EXPECT_NEAR(p.gy, ref.gy, 1e-5);
            // The float transform rounds to the same integers.
            EXPECT_EQ(p.x, quro::round_half_away(fset.points[i].x));
            EXPECT_EQ(p.y, quro::round_half_away(fset.points[i].y));
        }
        EXPECT_EQ(set.min_x, fset.min_x);
        EXPECT_EQ(set.max_x, fset.max_x);
        EXPECT_EQ(set.min_y, fset.min_y);
        EXPECT_EQ(set.max_y, fset.max_y);
        expect_box_of_rounded(set);
    }
}

TEST(TransformPose, LevelOneTransformUsesEveryPointAtAUniformScale) {
    std::mt19937 rng(3);
    auto rec =
        quro_test::record_with_levels({random_points(rng, 50, 40.f), random_points(rng, 20, 20.f)});
    ModelPointSet<FeatureI> set;
    quro::transform_model_points(rec, 33.f, 1.5f, set);
    ASSERT_EQ(set.points.size(), 50u);
    for (std::size_t i = 0; i < 50; ++i) {
        const RefPose ref = reference_pose(rec.level_features[0][i], 33.f, 1.5f, 1.5f);
        EXPECT_LE(std::fabs(set.points[i].x - ref.X), 0.5 + 1e-4);
        EXPECT_LE(std::fabs(set.points[i].y - ref.Y), 0.5 + 1e-4);
    }
}

TEST(TransformPose, QuarterTurnMovesAxisPointAndDirection) {
    const auto rec = quro_test::record_with_levels({{Feature(10.f, 0.f, 1.f, 0.f)}});
    ModelPointSet<FeatureI> set;
    quro::transform_model_points(rec, 90.f, 1.f, set);
    ASSERT_EQ(set.points.size(), 1u);
    EXPECT_EQ(set.points[0].x, 0);
    EXPECT_EQ(set.points[0].y, -10);
    EXPECT_NEAR(set.points[0].gx, 0.f, 1e-6);
    EXPECT_NEAR(set.points[0].gy, -1.f, 1e-6);
    EXPECT_EQ(set.min_y, -10);
    EXPECT_EQ(set.max_y, -10);
}

TEST(TransformPose, ReusedOutputIsFullyOverwritten) {
    std::mt19937 rng(5);
    const auto big = quro_test::record_with_levels({random_points(rng, 100, 50.f)});
    const auto small = quro_test::record_with_levels({random_points(rng, 7, 5.f)}, 10, 12);
    ModelPointSet<Feature> set;
    quro::rotated_template(big, 10.f, 1, 1.f, 1, set);
    const auto* buffer = set.points.data();
    quro::rotated_template(small, 10.f, 1, 1.f, 1, set);
    EXPECT_EQ(set.points.size(), 7u);
    EXPECT_EQ(set.points.data(), buffer);  // capacity reused, nothing reallocated
    EXPECT_EQ(set.level_width, 10);
    EXPECT_EQ(set.level_height, 12);
    expect_box_of_rounded(set);
}

// ---- Vector kernel -----------------------------------------------------------------------------

bool same_float(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// The AVX2 kernel against the scalar one: every output bit and the box, for strides, odd and even
// counts, signed zeros, exact halves, huge values that hit the rounding clamp, and NaN rotations.
TEST(PoseKernel, VectorKernelMatchesScalarKernelBitForBit) {
    if (!quro::cpu_has_avx2()) GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 rng(21);
    std::vector<Feature> in = random_points(rng, 997, 300.f);
    in[0] = Feature(-0.f, 0.f, -0.f, 1.f);
    in[1] = Feature(2.5f, -2.5f, 0.f, -0.f);
    in[2] = Feature(-0.5f, 0.5f, 1.f, 0.f);
    in[3] = Feature(3e9f, -3e9f, 0.f, 1.f);
    in[4] = Feature(1e38f, -1e38f, 1.f, 1.f);
    std::uniform_real_distribution<float> angle(-720.f, 720.f), scale(0.2f, 3.f);
    struct Pose {
        float c, s, sr, sc;
    };
    std::vector<Pose> poses = {{1.f, 0.f, 1.f, 1.f},
                               {1.f, -0.f, 1.f, 1.f},
                               {std::nanf(""), std::nanf(""), 1.f, 1.f},
                               {0.5f, 0.5f, 1e30f, 2.f}};
    for (int k = 0; k < 20; ++k) {
        const quro::PoseRotation r = quro::pose_rotation(angle(rng));
        poses.push_back({r.c, r.s, scale(rng), scale(rng)});
    }
    std::vector<Feature> a(in.size()), b(in.size());
    for (const Pose& p : poses) {
        for (std::size_t stride : {1u, 2u, 3u, 8u}) {
            for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{2},
                                      std::size_t{7}, (in.size() - 1) / stride + 1}) {
                const quro::PoseBox sb = quro::pose_features_scalar(in.data(), stride, count, p.c,
                                                                    p.s, p.sr, p.sc, a.data());
                const quro::PoseBox vb = quro::pose_features_avx2(in.data(), stride, count, p.c,
                                                                  p.s, p.sr, p.sc, b.data());
                EXPECT_EQ(sb.min_x, vb.min_x);
                EXPECT_EQ(sb.min_y, vb.min_y);
                EXPECT_EQ(sb.max_x, vb.max_x);
                EXPECT_EQ(sb.max_y, vb.max_y);
                for (std::size_t i = 0; i < count; ++i) {
                    ASSERT_TRUE(same_float(a[i].x, b[i].x)) << i << " stride " << stride;
                    ASSERT_TRUE(same_float(a[i].y, b[i].y)) << i;
                    ASSERT_TRUE(same_float(a[i].gx, b[i].gx)) << i;
                    ASSERT_TRUE(same_float(a[i].gy, b[i].gy)) << i;
                }
            }
        }
    }
}

TEST(PoseKernel, EmptyInputLeavesTheBoxAtItsStartValues) {
    Feature out;
    const quro::PoseBox sb = quro::pose_features_scalar(nullptr, 1, 0, 1.f, 0.f, 1.f, 1.f, &out);
    EXPECT_EQ(sb.min_x, INT_MAX);
    EXPECT_EQ(sb.max_y, INT_MIN);
}

// ---- Empty and missing levels ------------------------------------------------------------------

TEST(TransformEmpty, EmptyLevelGivesZeroBoxAndNoPoints) {
    std::mt19937 rng(9);
    const auto rec = quro_test::record_with_levels({random_points(rng, 10, 20.f), {}});
    ModelPointSet<Feature> set;
    quro::rotated_template(rec, 0.f, 1, 1.f, 1, set);  // leave stale contents behind
    for (int step : {1, 0, -1, 5}) {
        quro::rotated_template(rec, 0.f, 2, 1.f, step, set);
        EXPECT_TRUE(set.points.empty());
        EXPECT_EQ(set.min_x, 0);
        EXPECT_EQ(set.min_y, 0);
        EXPECT_EQ(set.max_x, 0);
        EXPECT_EQ(set.max_y, 0);
        EXPECT_EQ(set.level_width, 32);
        EXPECT_EQ(set.level_height, 24);
    }
    ModelPointSet<FeatureI> iset;
    quro::transform_model_points_aniso(rec, 20.f, 2, 1.f, 2.f, 1, iset);
    EXPECT_TRUE(iset.points.empty());
    EXPECT_EQ(iset.max_x, 0);
}

TEST(TransformEmpty, LevelOutsideTheRecordGivesAnEmptySet) {
    std::mt19937 rng(1);
    const auto rec = quro_test::record_with_levels({random_points(rng, 10, 20.f)});
    ModelPointSet<Feature> set;
    for (int level : {0, 2, -3, INT_MAX}) {
        quro::rotated_template(rec, 0.f, 1, 1.f, 1, set);
        quro::rotated_template_aniso(rec, 0.f, level, 1.f, 1.f, 0, set);
        EXPECT_TRUE(set.points.empty());
        EXPECT_EQ(set.level_width, 0);
        EXPECT_EQ(set.max_x, 0);
    }
    EXPECT_TRUE(rec.has_level(1));
    EXPECT_FALSE(rec.has_level(2));
    EXPECT_FALSE(rec.has_level(0));
}

TEST(TransformEmpty, WildPoseStaysDefined) {
    const auto rec = quro_test::record_with_levels({{Feature(1e6f, -1e6f, 1.f, 0.f)}});
    ModelPointSet<FeatureI> set;
    quro::transform_model_points(rec, 0.f, 1e30f, set);
    ASSERT_EQ(set.points.size(), 1u);
    EXPECT_EQ(set.points[0].x, 1073741824);  // clamped, not undefined
    EXPECT_EQ(set.points[0].y, -1073741824);
    quro::transform_model_points(rec, std::nanf(""), 1.f, set);
    ASSERT_EQ(set.points.size(), 1u);
}

// ---- Sampling steps ----------------------------------------------------------------------------

// A 4-level record whose level 2 holds n points with distinct x.
quro::ShapeModelRecord four_level_record(int n) {
    std::vector<std::vector<Feature>> levels(4);
    for (int L = 0; L < 4; ++L)
        for (int i = 0; i < n; ++i)
            levels[L].emplace_back(static_cast<float>(i), static_cast<float>(L), 0.f, 1.f);
    return quro_test::record_with_levels(levels);
}

template <class P>
std::vector<int> taken_indices(const ModelPointSet<P>& set) {
    std::vector<int> idx;
    for (const P& p : set.points) idx.push_back(static_cast<int>(std::lround(p.x)));
    return idx;
}

TEST(TransformSteps, RotatedTemplateOnLevelTwoOfFour) {
    const auto rec = four_level_record(21);
    ModelPointSet<Feature> set;
    quro::rotated_template(rec, 0.f, 2, 1.f, 0, set);
    EXPECT_EQ(taken_indices(set), (std::vector<int>{0, 4, 8, 12, 16, 20}));
    quro::rotated_template(rec, 0.f, 2, 1.f, -1, set);
    EXPECT_EQ(taken_indices(set), (std::vector<int>{0, 8, 16}));
    quro::rotated_template_aniso(rec, 0.f, 2, 1.f, 1.f, -1, set);
    EXPECT_EQ(taken_indices(set), (std::vector<int>{0, 8, 16}));
    quro::rotated_template(rec, 0.f, 2, 1.f, 3, set);
    EXPECT_EQ(taken_indices(set), (std::vector<int>{0, 3, 6, 9, 12, 15, 18}));
    EXPECT_EQ(set.max_x, 18);
}

TEST(TransformSteps, AnisoIntegerTransformIgnoresTheCoarserExponent) {
    const auto rec = four_level_record(21);
    ModelPointSet<FeatureI> set;
    quro::transform_model_points_aniso(rec, 0.f, 2, 1.f, 1.f, -1, set);
    EXPECT_EQ(taken_indices(set), (std::vector<int>{0, 4, 8, 12, 16, 20}));
    quro::transform_model_points_aniso(rec, 0.f, 4, 1.f, 1.f, 0, set);
    EXPECT_EQ(set.points.size(), 21u);  // 2^0 on the top level
}

TEST(TransformSteps, PointCountIsOneMoreThanTheWholeSteps) {
    const auto rec = four_level_record(17);
    ModelPointSet<Feature> set;
    for (int step = 1; step <= 20; ++step) {
        quro::rotated_template(rec, 0.f, 1, 1.f, step, set);
        EXPECT_EQ(set.points.size(), static_cast<std::size_t>(16 / step + 1)) << step;
    }
}

TEST(TransformSteps, ExtremeNegativeStepsDoNotOverflow) {
    const auto rec = four_level_record(9);
    EXPECT_EQ(quro::template_point_step(rec, 1, INT_MIN), 1 << 30);
    EXPECT_EQ(quro::template_point_step(rec, 4, -2), 4);
    EXPECT_EQ(quro::aniso_point_step(rec, 1, INT_MIN), 8);
    ModelPointSet<Feature> set;
    quro::rotated_template(rec, 0.f, 1, 1.f, INT_MIN, set);
    EXPECT_EQ(set.points.size(), 1u);
}

// ---- Circle models -----------------------------------------------------------------------------

TEST(CircleDirections, EqualScalesGiveTheStoredDirectionsForEveryPoint) {
    const auto rec = circle_record(50.f, 314, false);
    ASSERT_TRUE(std::signbit(rec.level_features[0][0].x));  // the first point sits at x = -0.0f
    ModelPointSet<Feature> fset;
    ModelPointSet<FeatureI> iset;
    quro::rotated_template_aniso(rec, 0.f, 1, 1.f, 1.f, 1, fset);
    quro::transform_model_points_aniso(rec, 0.f, 1, 1.f, 1.f, 1, iset);
    ASSERT_EQ(fset.points.size(), 314u);
    ASSERT_EQ(iset.points.size(), 314u);
    for (std::size_t i = 0; i < 314; ++i) {
        const Feature& s = rec.level_features[0][i];
        EXPECT_NEAR(fset.points[i].gx, s.gx, 1e-3) << i;
        EXPECT_NEAR(fset.points[i].gy, s.gy, 1e-3) << i;
        EXPECT_NEAR(iset.points[i].gx, s.gx, 1e-3) << i;
        EXPECT_NEAR(iset.points[i].gy, s.gy, 1e-3) << i;
    }
    EXPECT_NEAR(fset.points[0].gy, 1.f, 1e-6);  // inward at the top point
}

TEST(CircleDirections, FlippedCircleKeepsItsOutwardDirections) {
    const auto rec = circle_record(40.f, 251, true);
    ModelPointSet<Feature> set;
    quro::rotated_template_aniso(rec, 0.f, 1, 1.f, 1.f, 1, set);
    for (std::size_t i = 0; i < set.points.size(); ++i) {
        EXPECT_NEAR(set.points[i].gx, rec.level_features[0][i].gx, 1e-3) << i;
        EXPECT_NEAR(set.points[i].gy, rec.level_features[0][i].gy, 1e-3) << i;
    }
    // Under unequal scales each direction still points away from the centre.
    quro::rotated_template_aniso(rec, 25.f, 1, 2.f, 1.f, 1, set);
    for (const Feature& p : set.points) EXPECT_GT(p.x * p.gx + p.y * p.gy, 0.f);
}

// Under row scale 2 and column scale 1 at several angles, each direction is a unit vector normal
// to the posed ellipse (perpendicular to its tangent) and points inward.
TEST(CircleDirections, UnequalScalesGiveTheScaledEllipseNormal) {
    const int n = 314;
    const float r = 50.f;
    const auto rec = circle_record(r, n, false);
    ModelPointSet<Feature> set;
    ModelPointSet<FeatureI> iset;
    for (float angle : {0.f, 30.f, -115.f}) {
        quro::rotated_template_aniso(rec, angle, 1, 2.f, 1.f, 1, set);
        quro::transform_model_points_aniso(rec, angle, 1, 2.f, 1.f, 1, iset);
        ASSERT_EQ(set.points.size(), static_cast<std::size_t>(n));
        const double theta = static_cast<double>(angle * 0.017453292f);
        const double c = std::cos(theta), s = std::sin(theta);
        for (int i = 0; i < n; ++i) {
            // Stored point (-r sin t, -r cos t); its tangent d/dt is (-r cos t, r sin t), scaled by
            // (column 1, row 2) and rotated like a position.
            const double t = 2.0 * kPi * i / n;
            const double tx = -r * std::cos(t) * 1.0, ty = r * std::sin(t) * 2.0;
            const double Tx = c * tx + s * ty, Ty = c * ty - s * tx;
            const double tl = std::hypot(Tx, Ty);
            const Feature& p = set.points[static_cast<std::size_t>(i)];
            EXPECT_NEAR(std::hypot(p.gx, p.gy), 1.0, 1e-5);
            EXPECT_NEAR((p.gx * Tx + p.gy * Ty) / tl, 0.0, 1e-4) << i;
            EXPECT_LT(p.x * p.gx + p.y * p.gy, 0.f) << i;
            const FeatureI& q = iset.points[static_cast<std::size_t>(i)];
            EXPECT_NEAR(q.gx, p.gx, 1e-6);
            EXPECT_NEAR(q.gy, p.gy, 1e-6);
        }
    }
}

TEST(CircleDirections, OnlyTheAnisoTransformsUseTheEllipseRule) {
    const auto circle = circle_record(30.f, 100, false);
    auto plain = circle;
    plain.shape_kind = 2;
    ModelPointSet<Feature> a, b;
    // The uniform transform rotates stored directions even for a circle model.
    std::vector<Feature> skewed = circle.level_features[0];
    for (Feature& f : skewed) {
        f.gx = 1.f;
        f.gy = 0.f;
    }
    auto skewed_circle = quro_test::record_with_levels({skewed});
    skewed_circle.shape_kind = 1;
    quro::rotated_template(skewed_circle, 0.f, 1, 2.f, 1, a);
    for (const Feature& p : a.points) {
        EXPECT_EQ(p.gx, 1.f);
        EXPECT_EQ(p.gy, 0.f);
    }
    // A non-circle model keeps rotated stored directions under unequal scales.
    quro::rotated_template_aniso(plain, 0.f, 1, 2.f, 1.f, 1, b);
    for (std::size_t i = 0; i < b.points.size(); ++i) {
        EXPECT_EQ(b.points[i].gx, plain.level_features[0][i].gx);
        EXPECT_EQ(b.points[i].gy, plain.level_features[0][i].gy);
    }
}

TEST(CircleDirections, HelperKeepsTheStoredDirectionWhereTheNormalIsUndefined) {
    const quro::PoseVec centre = quro::circle_model_direction(0.f, 0.f, 0.6f, 0.8f, 2.f, 1.f);
    EXPECT_EQ(centre.x, 0.6f);
    EXPECT_EQ(centre.y, 0.8f);
    const quro::PoseVec zero = quro::circle_model_direction(3.f, 4.f, 0.f, 1.f, 0.f, 0.f);
    EXPECT_EQ(zero.x, 0.f);
    EXPECT_EQ(zero.y, 1.f);
    // Without a stored direction the inward normal is taken.
    const quro::PoseVec in = quro::circle_model_direction(3.f, 4.f, 0.f, 0.f, 1.f, 1.f);
    EXPECT_NEAR(in.x, -0.6f, 1e-6);
    EXPECT_NEAR(in.y, -0.8f, 1e-6);
}

}  // namespace
