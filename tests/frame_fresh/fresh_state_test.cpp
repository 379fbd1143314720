// Tests of the library's state in a process where nothing has been registered or inserted yet.
#include <gtest/gtest.h>

#include <cstdlib>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "testing/records.h"

namespace {

TEST(FreshProcess, FirstHandleIsOneAndHandlesCountUp) {
    ASSERT_EQ(quro::registered_result_count(), 0u);
    const int a = quro::register_result(quro::kResultBytes, std::malloc(4), 4);
    const int b = quro::register_result(quro::kResultBytes, std::malloc(4), 4);
    const int c = quro::register_result(quro::kResultBytes, std::malloc(4), 4);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(clear_mems(2), 0);
    EXPECT_EQ(quro::register_result(quro::kResultBytes, std::malloc(4), 4), 2);
    for (int h = 1; h <= 3; ++h) EXPECT_EQ(clear_mems(h), 0);
    EXPECT_EQ(quro::register_result(quro::kResultBytes, nullptr, 0), 1);
    EXPECT_EQ(clear_mems(1), 0);
}

TEST(FreshProcess, FirstModelIdIsZeroAndIdsCountUp) {
    ASSERT_EQ(quro::shape_model_count(), 0u);
    EXPECT_EQ(quro::add_shape_model(quro_test::simple_record()), 0);
    EXPECT_EQ(quro::add_shape_model(quro_test::simple_record()), 1);
    EXPECT_EQ(quro::add_shape_model(quro_test::simple_record()), 2);
    EXPECT_EQ(clear_shape_model(1), 0);
    EXPECT_EQ(quro::add_shape_model(quro_test::simple_record()), 1);
    EXPECT_EQ(clear_shape_model(0), 0);
    EXPECT_EQ(copy_shape_model(2), 0);
    for (int id = 0; id <= 2; ++id) EXPECT_EQ(clear_shape_model(id), 0);
    EXPECT_EQ(quro::shape_model_count(), 0u);
}

}  // namespace
