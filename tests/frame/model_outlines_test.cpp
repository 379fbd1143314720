// The outline exports: by-value outlines, registered outline objects and their handles, and the
// failure paths (unknown ids, bad levels, bad poses, allocation failure).
#include "quro/model_outlines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "testing/records.h"

namespace {

using quro::Feature;

// The handle the next registration would get (the probe itself is released again).
int next_handle() {
    const int h = quro::register_result(quro::kResultBytes, nullptr, 0);
    clear_mems(h);
    return h;
}

// A model whose level 1 holds points on half-pixel positions.
int add_half_pixel_model() {
    auto rec = quro_test::record_with_levels(
        {{Feature(2.5f, -2.5f, 0.6f, 0.8f), Feature(-2.5f, 1.5f, -1.f, 0.f),
          Feature(0.4f, 3.f, 0.f, -1.f)},
         {Feature(1.f, -1.f, 0.6f, 0.8f), Feature(-1.f, 1.f, -1.f, 0.f)}});
    return quro::add_shape_model(std::move(rec));
}

struct ModelGuard {
    int id;
    ~ModelGuard() { clear_shape_model(id); }
};

// ---- By value ----------------------------------------------------------------------------------

TEST(OutlineByValue, IdentityPoseRoundsHalfAwayAndKeepsDirections) {
    ModelGuard m{add_half_pixel_model()};
    const std::size_t before = quro::registered_result_count();
    quro::TemplateI t = get_model_transform(m.id, 0.f, 1.f);
    EXPECT_EQ(quro::registered_result_count(), before);
    EXPECT_EQ(t.handle, -1);
    ASSERT_EQ(t.count, 3);
    ASSERT_NE(t.points, nullptr);
    EXPECT_EQ(t.points[0].x, 3);
    EXPECT_EQ(t.points[0].y, -3);
    EXPECT_EQ(t.points[1].x, -3);
    EXPECT_EQ(t.points[1].y, 2);
    EXPECT_EQ(t.points[2].x, 0);
    EXPECT_EQ(t.points[2].y, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(t.points[i].tag, 0);
    EXPECT_EQ(t.points[0].gx, 0.6f);
    EXPECT_EQ(t.points[0].gy, 0.8f);
    EXPECT_EQ(t.points[1].gx, -1.f);
    EXPECT_EQ(t.min_x, -3);
    EXPECT_EQ(t.max_x, 3);
    EXPECT_EQ(t.min_y, -3);
    EXPECT_EQ(t.max_y, 3);
    EXPECT_EQ(t.level_width, 64);
    EXPECT_EQ(t.level_height, 48);
}

TEST(OutlineByValue, QuarterTurn) {
    ModelGuard m{
        quro::add_shape_model(quro_test::record_with_levels({{Feature(10.f, 0.f, 1.f, 0.f)}}))};
    quro::TemplateI t = get_model_transform(m.id, 90.f, 1.f);
    ASSERT_EQ(t.count, 1);
    EXPECT_EQ(t.points[0].x, 0);
    EXPECT_EQ(t.points[0].y, -10);
    EXPECT_NEAR(t.points[0].gx, 0.f, 1e-6);
    EXPECT_NEAR(t.points[0].gy, -1.f, 1e-6);
    quro::TemplateF f = get_model_transform2(m.id, 90.f, 1.f);
    ASSERT_EQ(f.count, 1);
    EXPECT_NEAR(f.points[0].x, 0.f, 1e-5);
    EXPECT_NEAR(f.points[0].y, -10.f, 1e-5);
}

TEST(OutlineByValue, RowScaleTwoDoublesRowsAndKeepsColumns) {
    ModelGuard m{add_half_pixel_model()};
    auto rec = quro::find_shape_model_record(m.id);
    quro::TemplateF t = get_model_transform2_s(m.id, 0.f, 2.f, 1.f);
    ASSERT_EQ(t.count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t.points[i].x, rec->level_features[0][i].x);
        EXPECT_EQ(t.points[i].y, 2.f * rec->level_features[0][i].y);
    }
    EXPECT_EQ(t.min_y, -5);
    EXPECT_EQ(t.max_y, 6);
    quro::TemplateI ti = get_model_transform_s(m.id, 0.f, 1.f, 2.f);
    ASSERT_EQ(ti.count, 3);
    EXPECT_EQ(ti.points[0].x, 5);
    EXPECT_EQ(ti.points[0].y, -3);
}

TEST(OutlineByValue, ResultOwnsItsPointsThroughCopiesAndMoves) {
    ModelGuard m{add_half_pixel_model()};
    quro::TemplateF a = get_model_transform2(m.id, 12.f, 1.3f);
    ASSERT_EQ(a.count, 3);
    quro::TemplateF b = a;
    EXPECT_NE(b.points, a.points);
    EXPECT_EQ(b.points[2].y, a.points[2].y);
    quro::TemplateF c = std::move(a);
    EXPECT_EQ(a.points, nullptr);
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(c.handle, -1);
}

TEST(OutlineByValue, UnknownIdOrBadPoseGivesAnEmptyOutline) {
    ModelGuard m{add_half_pixel_model()};
    for (const quro::TemplateI& t :
         {get_model_transform(-1, 0.f, 1.f), get_model_transform(m.id + 100, 0.f, 1.f),
          get_model_transform(m.id, std::nanf(""), 1.f),
          get_model_transform_s(m.id, 0.f, INFINITY, 1.f)}) {
        EXPECT_EQ(t.count, 0);
        EXPECT_EQ(t.points, nullptr);
        EXPECT_EQ(t.handle, -1);
    }
    quro::TemplateF f = get_model_transform2_s(m.id, 0.f, 1.f, std::nanf(""));
    EXPECT_EQ(f.count, 0);
    EXPECT_EQ(f.points, nullptr);
}

// ---- Registered --------------------------------------------------------------------------------

TEST(OutlineRegistered, HandleFieldEqualsReturnAndClearMemsFreesIt) {
    ModelGuard m{add_half_pixel_model()};
    const std::size_t before = quro::registered_result_count();
    quro::TemplateI* ti = nullptr;
    const int hi = get_model_contour(m.id, 0.f, 1.f, &ti);
    ASSERT_GE(hi, 1);
    ASSERT_NE(ti, nullptr);
    EXPECT_EQ(ti->handle, hi);
    EXPECT_EQ(ti->count, 3);
    EXPECT_EQ(ti->points[0].x, 3);
    quro::ResultEntry e;
    ASSERT_TRUE(quro::lookup_result(hi, &e));
    EXPECT_EQ(e.kind, quro::kResultTemplateI);
    EXPECT_EQ(e.block, ti);
    EXPECT_EQ(e.count, 3);

    quro::TemplateF* tf = nullptr;
    const int hf = get_model_contour3(m.id, 2, 0.f, 1.f, &tf);
    ASSERT_GE(hf, 1);
    EXPECT_EQ(tf->handle, hf);
    EXPECT_EQ(tf->count, 2);
    EXPECT_EQ(tf->level_width, 32);
    EXPECT_EQ(tf->level_height, 24);
    ASSERT_TRUE(quro::lookup_result(hf, &e));
    EXPECT_EQ(e.kind, quro::kResultTemplateF);

    EXPECT_EQ(quro::registered_result_count(), before + 2);
    EXPECT_EQ(clear_mems(hi), 0);
    EXPECT_EQ(clear_mems(hf), 0);
    EXPECT_EQ(quro::registered_result_count(), before);
}

TEST(OutlineRegistered, EveryVariantRegistersItsKindAndPose) {
    ModelGuard m{add_half_pixel_model()};
    quro::TemplateF* a = nullptr;
    quro::TemplateF* b = nullptr;
    quro::TemplateF* c = nullptr;
    quro::TemplateI* d = nullptr;
    const int ha = get_model_contour2(m.id, 30.f, 1.5f, &a);
    const int hb = get_model_contour2_s(m.id, 30.f, 1.5f, 1.5f, &b);
    const int hc = get_model_contour3_s(m.id, 1, 30.f, 2.f, 0.5f, &c);
    const int hd = get_model_contour_s(m.id, 30.f, 2.f, 0.5f, &d);
    ASSERT_GE(ha, 1);
    ASSERT_GE(hb, 1);
    ASSERT_GE(hc, 1);
    ASSERT_GE(hd, 1);
    quro::TemplateF va = get_model_transform2(m.id, 30.f, 1.5f);
    quro::TemplateF vc = get_model_transform2_s(m.id, 30.f, 2.f, 0.5f);
    quro::TemplateI vd = get_model_transform_s(m.id, 30.f, 2.f, 0.5f);
    ASSERT_EQ(a->count, 3);
    ASSERT_EQ(c->count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a->points[i].x, va.points[i].x);
        EXPECT_EQ(b->points[i].y, va.points[i].y);
        EXPECT_EQ(c->points[i].y, vc.points[i].y);
        EXPECT_EQ(d->points[i].x, vd.points[i].x);
    }
    EXPECT_EQ(c->max_x, vc.max_x);
    quro::ResultEntry e;
    ASSERT_TRUE(quro::lookup_result(hd, &e));
    EXPECT_EQ(e.kind, quro::kResultTemplateI);
    ASSERT_TRUE(quro::lookup_result(hc, &e));
    EXPECT_EQ(e.kind, quro::kResultTemplateF);
    for (int h : {ha, hb, hc, hd}) EXPECT_EQ(clear_mems(h), 0);
}

TEST(OutlineRegistered, FailuresReturnMinusOneAndRegisterNothing) {
    ModelGuard m{add_half_pixel_model()};
    const int next = next_handle();
    const std::size_t before = quro::registered_result_count();
    quro::TemplateF* sentinel = reinterpret_cast<quro::TemplateF*>(0x10);
    quro::TemplateF* f = sentinel;
    quro::TemplateI* i = reinterpret_cast<quro::TemplateI*>(0x10);
    EXPECT_EQ(get_model_contour(m.id + 77, 0.f, 1.f, &i), -1);
    EXPECT_EQ(get_model_contour2(-1, 0.f, 1.f, &f), -1);
    EXPECT_EQ(get_model_contour_s(m.id + 77, 0.f, 1.f, 1.f, &i), -1);
    EXPECT_EQ(get_model_contour2_s(m.id + 77, 0.f, 1.f, 1.f, &f), -1);
    EXPECT_EQ(get_model_contour3(m.id, 0, 0.f, 1.f, &f), -1);
    EXPECT_EQ(get_model_contour3(m.id, 3, 0.f, 1.f, &f), -1);  // num_levels + 1
    EXPECT_EQ(get_model_contour3_s(m.id, 0, 0.f, 1.f, 1.f, &f), -1);
    EXPECT_EQ(get_model_contour3_s(m.id, 3, 0.f, 1.f, 1.f, &f), -1);
    EXPECT_EQ(get_model_contour3(m.id + 77, 1, 0.f, 1.f, &f), -1);
    EXPECT_EQ(get_model_contour2(m.id, std::nanf(""), 1.f, &f), -1);
    EXPECT_EQ(get_model_contour2_s(m.id, 0.f, 1.f, -INFINITY, &f), -1);
    EXPECT_EQ(get_model_contour(m.id, 0.f, 1.f, nullptr), -1);
    EXPECT_EQ(get_model_contour3_s(m.id, 1, 0.f, 1.f, 1.f, nullptr), -1);
    EXPECT_EQ(f, sentinel);
    EXPECT_EQ(i, reinterpret_cast<quro::TemplateI*>(0x10));
    EXPECT_EQ(next_handle(), next);
    EXPECT_EQ(quro::registered_result_count(), before);
}

TEST(OutlineRegistered, EmptyLevelIsRegisteredWithHandleFieldMinusOne) {
    // Removing every point with a large radius leaves every level empty.
    ModelGuard m{add_half_pixel_model()};
    EXPECT_EQ(remove_model_feature(m.id, 0, 1000.f), 0);
    auto rec = quro::find_shape_model_record(m.id);
    ASSERT_TRUE(rec->level_features[0].empty());
    const std::size_t before = quro::registered_result_count();
    quro::TemplateF* f = nullptr;
    const int h = get_model_contour3(m.id, 2, 45.f, 1.f, &f);
    ASSERT_GE(h, 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->handle, -1);
    EXPECT_EQ(f->count, 0);
    EXPECT_EQ(f->points, nullptr);
    EXPECT_EQ(f->min_x, 0);
    EXPECT_EQ(f->min_y, 0);
    EXPECT_EQ(f->max_x, 0);
    EXPECT_EQ(f->max_y, 0);
    EXPECT_EQ(f->level_width, 32);
    quro::TemplateI* t = nullptr;
    const int h2 = get_model_contour_s(m.id, 0.f, 2.f, 1.f, &t);
    ASSERT_GE(h2, 1);
    EXPECT_EQ(t->handle, -1);
    EXPECT_EQ(t->max_y, 0);
    EXPECT_EQ(quro::registered_result_count(), before + 2);
    EXPECT_EQ(clear_mems(h), 0);
    EXPECT_EQ(clear_mems(h2), 0);
    EXPECT_EQ(quro::registered_result_count(), before);

    quro::TemplateI v = get_model_transform(m.id, 0.f, 1.f);
    EXPECT_EQ(v.count, 0);
    EXPECT_EQ(v.max_x, 0);
    EXPECT_EQ(v.min_x, 0);
}

// ---- Allocation failure ------------------------------------------------------------------------

void* failing_alloc(std::size_t) {
    return nullptr;
}

TEST(OutlineAllocationFailure, ByValueReturnsCountZero) {
    ModelGuard m{add_half_pixel_model()};
    quro::TemplateI t = quro::get_model_transform_impl(m.id, 0.f, 1.f, &failing_alloc);
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(t.points, nullptr);
    quro::TemplateF f = quro::get_model_transform2_s_impl(m.id, 0.f, 1.f, 2.f, &failing_alloc);
    EXPECT_EQ(f.count, 0);
    EXPECT_EQ(f.points, nullptr);
}

TEST(OutlineAllocationFailure, RegisteredReturnsMinusOneAndRegistersNothing) {
    ModelGuard m{add_half_pixel_model()};
    const int next = next_handle();
    const std::size_t before = quro::registered_result_count();
    quro::TemplateF* f = nullptr;
    quro::TemplateI* i = nullptr;
    EXPECT_EQ(quro::get_model_contour2_impl(m.id, 0.f, 1.f, &f, &failing_alloc), -1);
    EXPECT_EQ(quro::get_model_contour_impl(m.id, 0.f, 1.f, &i, &failing_alloc), -1);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(i, nullptr);
    EXPECT_EQ(next_handle(), next);
    EXPECT_EQ(quro::registered_result_count(), before);
    const int h = get_model_contour2(m.id, 0.f, 1.f, &f);  // the export allocates
    ASSERT_EQ(h, next);
    EXPECT_EQ(f->count, 3);
    EXPECT_EQ(clear_mems(h), 0);
}

}  // namespace
