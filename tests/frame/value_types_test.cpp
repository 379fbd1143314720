#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "quro/quro.h"

namespace {

TEST(MatchLayout, FieldOffsetsAndSizeAreFixed) {
    EXPECT_EQ(sizeof(quro::Match), 40u);
    EXPECT_EQ(offsetof(quro::Match, x), 0u);
    EXPECT_EQ(offsetof(quro::Match, y), 4u);
    EXPECT_EQ(offsetof(quro::Match, model_id), 8u);
    EXPECT_EQ(offsetof(quro::Match, angle), 12u);
    EXPECT_EQ(offsetof(quro::Match, scale_row), 16u);
    EXPECT_EQ(offsetof(quro::Match, scale_col), 20u);
    EXPECT_EQ(offsetof(quro::Match, score), 24u);
    EXPECT_EQ(offsetof(quro::Match, flag), 28u);
    EXPECT_EQ(offsetof(quro::Match, dx), 32u);
    EXPECT_EQ(offsetof(quro::Match, dy), 36u);
    EXPECT_TRUE((std::is_same_v<decltype(quro::Match::flag), signed char>));
    EXPECT_TRUE(std::is_trivially_copyable_v<quro::Match>);
    EXPECT_TRUE(std::is_trivially_copyable_v<quro::Feature>);
    EXPECT_TRUE(std::is_trivially_copyable_v<quro::FeatureI>);
}

TEST(ValueLayout, PointAndOutlineTypesKeepTheirLayout) {
    EXPECT_EQ(sizeof(quro::Feature), 16u);
    EXPECT_EQ(sizeof(quro::FeatureI), 20u);
    EXPECT_EQ(offsetof(quro::FeatureI, tag), 16u);
    EXPECT_EQ(offsetof(quro::TemplateI, count), 24u);
    EXPECT_EQ(offsetof(quro::TemplateI, handle), 28u);
    EXPECT_EQ(offsetof(quro::TemplateI, points), 32u);
    EXPECT_EQ(offsetof(quro::TemplateF, points), 32u);
    EXPECT_EQ(sizeof(quro::EdgePoint), 16u);
    EXPECT_EQ(sizeof(quro::RRect), 20u);
    EXPECT_EQ(sizeof(quro::ContrastParams), 16u);
    EXPECT_EQ(offsetof(quro::VectorField, map_x), 16u);
    EXPECT_EQ(offsetof(quro::VectorField, map_y), 24u);
    EXPECT_EQ(offsetof(quro::MatchDetails, count), 16u);
    EXPECT_EQ(offsetof(quro::MatchDetails, points), 24u);
    EXPECT_EQ(offsetof(quro::MatchDetails, scores), 32u);
    EXPECT_EQ(offsetof(quro::MatchDetails, match), 40u);
    EXPECT_EQ(offsetof(quro::Contour, diameter), 8u);
    EXPECT_EQ(offsetof(quro::Contour, points), 16u);
    // Both spellings of the global aliases name the same types.
    EXPECT_TRUE((std::is_same_v<::EdgePoint, quro::EdgePoint>));
    EXPECT_TRUE((std::is_same_v<::ContrastParams, quro::ContrastParams>));
}

TEST(MatchConstruction, ConstructorsSetTheNamedFieldsAndZeroSubpixel) {
    quro::Match a(3, 4, 0.5f);
    EXPECT_EQ(a.x, 3);
    EXPECT_EQ(a.y, 4);
    EXPECT_FLOAT_EQ(a.score, 0.5f);
    EXPECT_EQ(a.dx, 0.f);
    EXPECT_EQ(a.dy, 0.f);

    quro::Match b(1, 2, 0.9f, 30.f, 1.5f, 7, static_cast<signed char>(-1));
    EXPECT_FLOAT_EQ(b.angle, 30.f);
    EXPECT_FLOAT_EQ(b.scale_row, 1.5f);
    EXPECT_EQ(b.model_id, 7);
    EXPECT_EQ(b.flag, -1);

    quro::Match c(1, 2, 0.9f, 30.f, 1.5f, 0.5f, 7, static_cast<signed char>(1));
    EXPECT_FLOAT_EQ(c.scale_col, 0.5f);
    EXPECT_EQ(c.flag, 1);
    EXPECT_EQ(c.dx, 0.f);
}

TEST(MatchOrdering, AscendingSortPutsBestScoreFirst) {
    std::vector<quro::Match> v;
    const float scores[] = {0.3f, 0.9f, 0.1f, 0.7f, 0.5f};
    for (int i = 0; i < 5; ++i) v.emplace_back(i, i, scores[i]);
    std::sort(v.begin(), v.end());
    for (std::size_t i = 1; i < v.size(); ++i) EXPECT_GE(v[i - 1].score, v[i].score);
    EXPECT_FLOAT_EQ(v.front().score, 0.9f);
}

TEST(MatchEquality, ComparesPositionAndScoreOnly) {
    quro::Match a(5, 6, 0.8f, 10.f);
    quro::Match b(5, 6, 0.8f, 170.f);
    EXPECT_TRUE(a == b);
    quro::Match c(5, 7, 0.8f, 10.f);
    EXPECT_FALSE(a == c);
    quro::Match n1(1, 1, std::nanf(""));
    quro::Match n2(1, 1, std::nanf(""));
    EXPECT_FALSE(n1 == n2);
}

TEST(FeatureDefaults, DefaultConstructionZeroesAndTagsMinusOne) {
    quro::Feature f;
    EXPECT_EQ(f.x, 0.f);
    EXPECT_EQ(f.gy, 0.f);
    quro::FeatureI fi;
    EXPECT_EQ(fi.x, 0);
    EXPECT_EQ(fi.tag, -1);
}

TEST(OutlineDefaults, DefaultTemplateHasNoHandleAndNoPoints) {
    quro::TemplateI t;
    EXPECT_EQ(t.handle, -1);
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(t.points, nullptr);
    EXPECT_EQ(t.min_x, 0);
    EXPECT_EQ(t.level_height, 0);
    quro::TemplateF f;
    EXPECT_EQ(f.handle, -1);
    EXPECT_EQ(f.points, nullptr);
    quro::MatchDetails d;
    EXPECT_EQ(d.points, nullptr);
    EXPECT_EQ(d.scores, nullptr);
    quro::VectorField vf;
    EXPECT_EQ(vf.map_x, nullptr);
    quro::Contour ct;
    EXPECT_EQ(ct.points, nullptr);
    EXPECT_EQ(ct.diameter, 0.0);
}

quro::TemplateF make_outline(int n) {
    quro::TemplateF t;
    t.count = n;
    t.min_x = -n;
    t.max_x = n;
    t.points = static_cast<quro::Feature*>(std::malloc(sizeof(quro::Feature) * n));
    for (int i = 0; i < n; ++i) t.points[i] = quro::Feature(float(i), float(-i), 1.f, 0.f);
    return t;  // by-value return: must not free twice
}

TEST(OwningTypes, OutlineCopyIsDeepAndMoveEmptiesTheSource) {
    quro::TemplateF a = make_outline(5);
    ASSERT_NE(a.points, nullptr);
    quro::TemplateF b(a);
    ASSERT_NE(b.points, nullptr);
    EXPECT_NE(b.points, a.points);
    EXPECT_EQ(b.count, 5);
    EXPECT_EQ(b.points[4].y, -4.f);
    b.points[0].x = 42.f;
    EXPECT_EQ(a.points[0].x, 0.f);

    quro::TemplateF c(std::move(a));
    EXPECT_EQ(a.points, nullptr);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(c.count, 5);
    EXPECT_EQ(c.min_x, -5);

    c = c;  // self-assignment keeps the points
    ASSERT_NE(c.points, nullptr);
    EXPECT_EQ(c.points[3].x, 3.f);
    quro::TemplateF& cref = c;
    c = std::move(cref);
    ASSERT_NE(c.points, nullptr);

    b = c;  // replaces b's own array without leaking it
    EXPECT_EQ(b.points[0].x, 0.f);
    std::vector<quro::TemplateF> many(3, c);  // copies in a container
    many.push_back(make_outline(2));
    EXPECT_EQ(many.back().count, 2);
}

TEST(OwningTypes, IntegerOutlineCopiesAndMoves) {
    quro::TemplateI a;
    a.count = 3;
    a.points = static_cast<quro::FeatureI*>(std::malloc(sizeof(quro::FeatureI) * 3));
    for (int i = 0; i < 3; ++i) a.points[i] = quro::FeatureI(i, i, 0.f, 1.f, 0);
    quro::TemplateI b;
    b = a;
    EXPECT_NE(b.points, a.points);
    EXPECT_EQ(b.points[2].x, 2);
    quro::TemplateI c;
    c = std::move(b);
    EXPECT_EQ(b.points, nullptr);
    EXPECT_EQ(c.points[1].y, 1);
}

TEST(OwningTypes, MatchDetailsCopyBothArraysAndMatch) {
    quro::MatchDetails d;
    d.count = 4;
    d.points = static_cast<quro::Feature*>(std::malloc(sizeof(quro::Feature) * 4));
    d.scores = static_cast<float*>(std::malloc(sizeof(float) * 4));
    for (int i = 0; i < 4; ++i) {
        d.points[i] = quro::Feature(float(i), 0.f, 0.f, 1.f);
        d.scores[i] = 0.25f * i;
    }
    d.match = quro::Match(1, 2, 0.75f, 5.f);
    quro::MatchDetails e(d);
    EXPECT_NE(e.points, d.points);
    EXPECT_NE(e.scores, d.scores);
    EXPECT_FLOAT_EQ(e.scores[3], 0.75f);
    EXPECT_FLOAT_EQ(e.match.angle, 5.f);
    quro::MatchDetails f;
    f = std::move(e);
    EXPECT_EQ(e.points, nullptr);
    EXPECT_EQ(e.scores, nullptr);
    EXPECT_FLOAT_EQ(f.points[2].x, 2.f);
    f = d;
    f = f;
    EXPECT_FLOAT_EQ(f.scores[1], 0.25f);
}

TEST(OwningTypes, VectorFieldCopiesWidthTimesHeightFloats) {
    quro::VectorField v;
    v.width = 3;
    v.height = 2;
    v.map_x = static_cast<float*>(std::malloc(sizeof(float) * 6));
    v.map_y = static_cast<float*>(std::malloc(sizeof(float) * 6));
    for (int i = 0; i < 6; ++i) {
        v.map_x[i] = float(i);
        v.map_y[i] = float(-i);
    }
    quro::VectorField w = v;
    EXPECT_NE(w.map_x, v.map_x);
    EXPECT_EQ(w.map_y[5], -5.f);
    quro::VectorField z(std::move(w));
    EXPECT_EQ(w.map_x, nullptr);
    EXPECT_EQ(z.map_x[5], 5.f);
}

TEST(OwningTypes, ContourAndMatchResCopyTheirArrays) {
    quro::Contour c;
    c.count = 2;
    c.diameter = 3.5;
    c.points = static_cast<quro::EdgePoint*>(std::malloc(sizeof(quro::EdgePoint) * 2));
    c.points[0] = quro::EdgePoint{1.f, 2.f, 0.f, 1.f};
    c.points[1] = quro::EdgePoint{3.f, 4.f, 1.f, 0.f};
    quro::Contour d;
    d = c;
    EXPECT_NE(d.points, c.points);
    EXPECT_EQ(d.points[1].y, 4.f);
    EXPECT_EQ(d.diameter, 3.5);

    quro::MatchRes r;
    r.count = 2;
    r.matches = static_cast<quro::Match*>(std::malloc(sizeof(quro::Match) * 2));
    r.matches[0] = quro::Match(1, 1, 0.5f);
    r.matches[1] = quro::Match(2, 2, 0.6f);
    quro::MatchRes s(r);
    EXPECT_NE(s.matches, r.matches);
    EXPECT_EQ(s.matches[1].x, 2);
    quro::MatchRes t(std::move(s));
    EXPECT_EQ(s.matches, nullptr);
    EXPECT_EQ(s.count, 0);
    EXPECT_EQ(t.count, 2);
}

// Nothing in the library writes the exported int, and the exported function only returns 0.
TEST(ExportedData, TheIntStaysZeroAndTheFunctionReturnsZero) {
    EXPECT_EQ(fnquro(), 0);
    EXPECT_EQ(nquro, 0);
}

}  // namespace
