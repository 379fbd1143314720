#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/settings.h"
#include "testing/records.h"

namespace {

class ModelParams : public ::testing::Test {
protected:
    void SetUp() override {
        auto rec = quro_test::record_with_levels(
            {{quro::Feature(1, 1, 1, 0)}, {quro::Feature(0, 0, 1, 0)}}, 120, 80);
        rec.contrast = ContrastParams{10, 20, 5, 7};
        rec.metric = 1;
        id_ = quro::add_shape_model(rec);
    }
    void TearDown() override { clear_shape_model(id_); }
    int get(const char* name, int sentinel = -12345) {
        int v = sentinel;
        get_shape_model_param(id_, name, &v);
        return v;
    }
    int id_ = -1;
};

TEST_F(ModelParams, SettableKeysReachTheRecord) {
    set_shape_model_param(id_, "min_contrast", 33);
    set_shape_model_param(id_, "timeout", 250);
    set_shape_model_param(id_, "metric", -1);
    EXPECT_EQ(get("min_contrast"), 33);
    EXPECT_EQ(get("timeout"), 250);
    EXPECT_EQ(get("metric"), -1);
    auto rec = quro::find_shape_model_record(id_);
    EXPECT_EQ(rec->contrast.min_contrast, 33);
    EXPECT_EQ(rec->contrast.contrast_high, 20);  // untouched
}

TEST_F(ModelParams, AcceptedButInertKeysChangeNothing) {
    set_shape_model_param(id_, "num_levels", 3);
    set_shape_model_param(id_, "border_shape_models", 1);
    set_shape_model_param(id_, "no_such_key", 9);
    EXPECT_EQ(get("num_levels"), 2);
    EXPECT_EQ(quro::border_shape_models(), 0);
    EXPECT_EQ(get("min_contrast"), 7);
    EXPECT_EQ(get("timeout"), 1000);
}

TEST_F(ModelParams, ReadOnlyKeysReportTheBuiltModel) {
    EXPECT_EQ(get("num_levels"), 2);
    EXPECT_EQ(get("width0"), 120);
    EXPECT_EQ(get("height0"), 80);
}

TEST_F(ModelParams, UnknownNamesAbsentIdsAndNullsWriteNothing) {
    EXPECT_EQ(get("border_shape_models", 77), 77);
    EXPECT_EQ(get("bogus", 78), 78);
    EXPECT_EQ(get("timeout2", 79), 79);  // byte-for-byte comparison, no prefixes
    int v = 5;
    get_shape_model_param(id_ + 100, "timeout", &v);
    EXPECT_EQ(v, 5);
    get_shape_model_param(-1, "timeout", &v);
    EXPECT_EQ(v, 5);
    get_shape_model_param(id_, nullptr, &v);
    EXPECT_EQ(v, 5);
    get_shape_model_param(id_, "timeout", nullptr);  // must not crash
    set_shape_model_param(id_, nullptr, 1);
    set_shape_model_param(id_ + 100, "timeout", 1);
    EXPECT_EQ(get("timeout"), 1000);
}

TEST_F(ModelParams, SizesOfAModelWithoutLevelsWriteNothing) {
    const int empty = quro::add_shape_model(quro::ShapeModelRecord{});
    int v = 11;
    get_shape_model_param(empty, "width0", &v);
    get_shape_model_param(empty, "height0", &v);
    EXPECT_EQ(v, 11);
    clear_shape_model(empty);
}

TEST(SystemSettings, PrintTimeIsOnUnlessZero) {
    EXPECT_TRUE(quro::print_time());
    set_system("print_time", 0);
    EXPECT_FALSE(quro::print_time());
    set_system("print_time", 5);
    EXPECT_TRUE(quro::print_time());
    set_system("print_time", -1);
    EXPECT_TRUE(quro::print_time());
}

TEST(SystemSettings, BorderValueIsStoredAndOthersIgnored) {
    EXPECT_EQ(quro::border_shape_models(), 0);
    set_system("border_shape_models", 3);
    EXPECT_EQ(quro::border_shape_models(), 3);
    set_system("unknown", 9);
    set_system(nullptr, 9);
    EXPECT_EQ(quro::border_shape_models(), 3);
    set_system("border_shape_models", 0);
    EXPECT_EQ(quro::border_shape_models(), 0);
}

TEST(MatchOffset, ZeroAngleMovesAlongColumnsAndUpForPositiveDy) {
    quro::Match m(100, 50, 0.9f, 0.f);
    m.dx = 0.25f;
    m.dy = -0.5f;
    float x = 0, y = 0;
    set_match_result_offset(&m, 10.f, 0.f, &x, &y);
    EXPECT_NEAR(x, 110.25f, 1e-4f);
    EXPECT_NEAR(y, 49.5f, 1e-4f);
    set_match_result_offset(&m, 0.f, 4.f, &x, &y);
    EXPECT_NEAR(x, 100.25f, 1e-4f);
    EXPECT_NEAR(y, 45.5f, 1e-4f);  // positive dy moves up
}

TEST(MatchOffset, NinetyDegreesTurnsAColumnOffsetIntoRowsUp) {
    quro::Match m(100, 50, 0.9f, 90.f);
    m.scale_row = 3.f;  // scales are not applied
    float x = 0, y = 0;
    set_match_result_offset(&m, 10.f, 0.f, &x, &y);
    EXPECT_NEAR(x, 100.f, 1e-4f);
    EXPECT_NEAR(y, 40.f, 1e-4f);
    set_match_result_offset(&m, 0.f, 10.f, &x, &y);
    EXPECT_NEAR(x, 90.f, 1e-4f);
    EXPECT_NEAR(y, 50.f, 1e-4f);
}

TEST(MatchOffset, NullArgumentsDoNothing) {
    quro::Match m(1, 1, 0.5f, 0.f);
    float x = 7.f, y = 8.f;
    set_match_result_offset(nullptr, 1.f, 1.f, &x, &y);
    set_match_result_offset(&m, 1.f, 1.f, nullptr, &y);
    set_match_result_offset(&m, 1.f, 1.f, &x, nullptr);
    EXPECT_EQ(x, 7.f);
    EXPECT_EQ(y, 8.f);
}

TEST(InvertFeatures, AllQuadrantsFlipEveryPointOffTheAxes) {
    std::vector<quro::Feature> pts = {
        {2, 3, 1, 0.5f}, {-2, 3, 1, 0.5f}, {-2, -3, 1, 0.5f}, {2, -3, 1, 0.5f},
        {0, 3, 1, 0.5f}, {2, 0, 1, 0.5f},  {0, 0, 1, 0.5f}};
    const int id = quro::add_shape_model(quro_test::record_with_levels({pts, pts}));
    EXPECT_EQ(invert_model_feature(id, 15), 0);
    auto rec = quro::find_shape_model_record(id);
    for (const auto& level : rec->level_features) {
        for (std::size_t i = 0; i < level.size(); ++i) {
            const bool on_axis = i >= 4;
            EXPECT_EQ(level[i].gx, on_axis ? 1.f : -1.f) << i;
            EXPECT_EQ(level[i].gy, on_axis ? 0.5f : -0.5f) << i;
        }
    }
    clear_shape_model(id);
}

TEST(InvertFeatures, SingleQuadrantBitsSelectTheirQuadrant) {
    std::vector<quro::Feature> pts = {{2, 3, 1, 0}, {-2, 3, 1, 0}, {-2, -3, 1, 0}, {2, -3, 1, 0}};
    const int bits[4] = {1, 2, 4, 8};
    for (int q = 0; q < 4; ++q) {
        const int id = quro::add_shape_model(quro_test::record_with_levels({pts}));
        invert_model_feature(id, bits[q]);
        auto rec = quro::find_shape_model_record(id);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(rec->level_features[0][i].gx, i == q ? -1.f : 1.f) << q << "," << i;
        clear_shape_model(id);
    }
    EXPECT_EQ(invert_model_feature(-1, 15), 0);
}

TEST(RemoveFeatures, ZeroRadiusRemovesTheNearestPointOfEachNonEmptyLevel) {
    std::vector<quro::Feature> l1 = {{0, 0, 1, 0}, {10, 10, 1, 0}, {20, 0, 1, 0}, {11, 10, 1, 0}};
    std::vector<quro::Feature> l2 = {{5, 5, 1, 0}, {10, 0, 1, 0}, {0, 0, 0, 1}};
    std::vector<quro::Feature> l3;  // empty level stays empty
    const int id = quro::add_shape_model(quro_test::record_with_levels({l1, l2, l3}));
    EXPECT_EQ(remove_model_feature(id, 1, 0.f), 0);  // point (10, 10)
    auto rec = quro::find_shape_model_record(id);
    ASSERT_EQ(rec->level_features[0].size(), 3u);
    EXPECT_EQ(rec->level_features[0][0].x, 0.f);
    EXPECT_EQ(rec->level_features[0][1].x, 20.f);  // order kept
    EXPECT_EQ(rec->level_features[0][2].x, 11.f);
    ASSERT_EQ(rec->level_features[1].size(), 2u);  // (5, 5) nearest to the halved (5, 5)
    EXPECT_EQ(rec->level_features[1][0].x, 10.f);
    EXPECT_TRUE(rec->level_features[2].empty());
    clear_shape_model(id);
}

TEST(RemoveFeatures, RadiusShrinksByHalfPerLevel) {
    // Level 1: radius 4 around (8, 0) removes points closer than 4.
    std::vector<quro::Feature> l1 = {{8, 0, 1, 0}, {11, 0, 1, 0}, {12, 0, 1, 0}, {0, 0, 1, 0}};
    // Level 2: centre (4, 0), radius 2: (5.9, 0) goes, (6, 0) stays (strict below).
    std::vector<quro::Feature> l2 = {{4, 0, 1, 0}, {5.9f, 0, 1, 0}, {6, 0, 1, 0}};
    const int id = quro::add_shape_model(quro_test::record_with_levels({l1, l2}));
    remove_model_feature(id, 0, 4.f);
    auto rec = quro::find_shape_model_record(id);
    ASSERT_EQ(rec->level_features[0].size(), 2u);
    EXPECT_EQ(rec->level_features[0][0].x, 12.f);
    EXPECT_EQ(rec->level_features[0][1].x, 0.f);
    ASSERT_EQ(rec->level_features[1].size(), 1u);
    EXPECT_EQ(rec->level_features[1][0].x, 6.f);
    clear_shape_model(id);
}

TEST(RemoveFeatures, BadIndexOrDirectionlessPointRemovesNothing) {
    std::vector<quro::Feature> l1 = {{0, 0, 0, 0}, {5, 5, 1, 0}};
    const int id = quro::add_shape_model(quro_test::record_with_levels({l1}));
    remove_model_feature(id, 0, 0.f);   // no direction
    remove_model_feature(id, -1, 0.f);  // below range
    remove_model_feature(id, 2, 0.f);   // beyond range
    remove_model_feature(id + 50, 1, 0.f);
    EXPECT_EQ(quro::find_shape_model_record(id)->level_features[0].size(), 2u);
    clear_shape_model(id);
}

}  // namespace

TEST(RemoveFeatures, ASearchCopyingTheRecordNeverSeesAnEditHalfWay) {
    // Points at x = 0..399 in order; the writer removes the first one again and again while a
    // reader copies the record as a search does. A copy taken during an erase would show a
    // point twice or out of order.
    std::vector<quro::Feature> points;
    for (int i = 0; i < 400; ++i) points.emplace_back(float(i), 0.f, 1.f, 0.f);
    const int id = quro::add_shape_model(quro_test::record_with_levels({points}));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int k = 0; k < 300; ++k) {
            remove_model_feature(id, 0, 0.f);
            set_shape_model_param(id, "timeout", k);
        }
        done = true;
    });
    std::size_t last = points.size();
    bool ordered = true, shrinking = true;
    while (!done.load()) {
        quro::ShapeModelRecord copy;
        ASSERT_TRUE(quro::copy_shape_model_record(id, copy));
        const auto& level = copy.level_features[0];
        shrinking = shrinking && level.size() <= last;
        last = level.size();
        for (std::size_t i = 1; i < level.size(); ++i) ordered = ordered && level[i].x > level[i - 1].x;
    }
    writer.join();
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(shrinking);
    EXPECT_GE(last, 100u);
    clear_shape_model(id);
}
