#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/records.h"

namespace {

TEST(ModelIds, LowestFreeIdIsReused) {
    const int a = quro::add_shape_model(quro_test::simple_record());
    const int b = quro::add_shape_model(quro_test::simple_record());
    const int c = quro::add_shape_model(quro_test::simple_record());
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, b + 1);
    EXPECT_EQ(clear_shape_model(b), 0);
    EXPECT_FALSE(quro::has_shape_model(b));
    EXPECT_EQ(quro::add_shape_model(quro_test::simple_record()), b);
    for (int id : {a, b, c}) EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelIds, ClearingBadOrAbsentIdsFailsAndChangesNothing) {
    const int id = quro::add_shape_model(quro_test::simple_record());
    const std::size_t n = quro::shape_model_count();
    EXPECT_EQ(clear_shape_model(-1), -1);
    EXPECT_EQ(clear_shape_model(id + 1000), -1);
    EXPECT_EQ(quro::shape_model_count(), n);
    EXPECT_EQ(clear_shape_model(id), 0);
    EXPECT_EQ(clear_shape_model(id), -1);
}

TEST(ModelRecord, FreshRecordHoldsTheDefaults) {
    quro::ShapeModelRecord rec = quro_test::simple_record();
    rec.metric = 3;
    rec.timeout_ms = 5;
    quro::reset_shape_model_record(rec);
    EXPECT_EQ(rec.num_levels, 0);
    EXPECT_EQ(rec.scale_min, 1.f);
    EXPECT_EQ(rec.scale_col_max, 1.f);
    EXPECT_EQ(rec.scale_step, 0.f);
    EXPECT_EQ(rec.timeout_ms, 1000);
    EXPECT_EQ(rec.metric, 0);
    EXPECT_EQ(rec.shape_kind, 0);
    EXPECT_TRUE(rec.level_features.empty());
    EXPECT_TRUE(rec.level_widths.empty());
}

TEST(ModelCopy, CopyIsDeepAndGetsANewId) {
    const int id = quro::add_shape_model(quro_test::simple_record(5));
    const int copy = copy_shape_model(id);
    ASSERT_GE(copy, 0);
    EXPECT_NE(copy, id);
    auto orig = quro::find_shape_model_record(id);
    auto dup = quro::find_shape_model_record(copy);
    ASSERT_TRUE(orig && dup);
    EXPECT_NE(orig.get(), dup.get());
    dup->level_features[0][0].x = 99.f;
    dup->level_widths[0] = 7;
    EXPECT_EQ(orig->level_features[0][0].x, 0.f);
    EXPECT_EQ(orig->level_widths[0], 64);
    EXPECT_EQ(copy_shape_model(-3), -1);
    EXPECT_EQ(copy_shape_model(copy + 500), -1);
    // A search's working copy: its edits never reach the stored record.
    quro::ShapeModelRecord work;
    ASSERT_TRUE(quro::copy_shape_model_record(id, work));
    work.scale_max = 1.2f;
    work.level_features[0][0].x = 5.f;
    EXPECT_EQ(orig->scale_max, 1.f);
    EXPECT_EQ(orig->level_features[0][0].x, 0.f);
    EXPECT_FALSE(quro::copy_shape_model_record(copy + 500, work));
    EXPECT_EQ(work.scale_max, 1.2f);  // untouched by the failed copy
    clear_shape_model(id);
    clear_shape_model(copy);
}

TEST(ModelLookup, RecordOutlivesAConcurrentClear) {
    const int id = quro::add_shape_model(quro_test::simple_record(3));
    auto held = quro::find_shape_model_record(id);
    ASSERT_TRUE(held);
    EXPECT_EQ(clear_shape_model(id), 0);
    EXPECT_EQ(held->level_features[0].size(), 3u);  // still readable
    EXPECT_EQ(quro::find_shape_model_record(id), nullptr);
    EXPECT_EQ(quro::find_shape_model_record(-1), nullptr);
}

TEST(ModelOrigin, SetOriginStoresBothValuesInOrder) {
    const int id = quro::add_shape_model(quro_test::simple_record());
    set_shape_model_origin(id, 2.5f, -1.5f);
    auto rec = quro::find_shape_model_record(id);
    EXPECT_EQ(rec->origin_first, 2.5f);
    EXPECT_EQ(rec->origin_second, -1.5f);
    set_shape_model_origin(id + 100, 1.f, 1.f);  // absent: no effect, no crash
    clear_shape_model(id);
}

TEST(ModelConcurrency, InsertAndClearWhileAnotherThreadLooksUp) {
    const int watched = quro::add_shape_model(quro_test::simple_record(6));
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop.load()) {
            auto rec = quro::find_shape_model_record(watched);
            if (!rec || rec->level_features.size() != 1 || rec->level_features[0].size() != 6)
                bad.fetch_add(1);
            int v = -7;
            get_shape_model_param(watched, "num_levels", &v);
            if (v != 1) bad.fetch_add(1);
        }
    });
    for (int i = 0; i < 1000; ++i) {
        const int id = quro::add_shape_model(quro_test::simple_record(2));
        if (id == watched || clear_shape_model(id) != 0) bad.fetch_add(1);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(clear_shape_model(watched), 0);
}

}  // namespace
