// Ids of created models in a process whose model table starts empty.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/polygon_model.h"

namespace {

TEST(FreshCreation, ImageModelsGetIdsZeroOneThenZeroAgain) {
    ASSERT_EQ(quro::shape_model_count(), 0u);
    const cv::Mat img =
        quro_test::render_polygon(quro_test::irregular_outline(120.f), cv::Size(160, 160),
                                  quro_test::PolygonPose{80.f, 80.f, 0.f});
    const ContrastParams c{10, 30, 10, 10};
    int id = -7;
    ASSERT_EQ(create_shape_model(img.data, 160, 160, 2, 0.f, 360.f, 1.f, 1, &c, nullptr, &id), 0);
    EXPECT_EQ(id, 0);
    ASSERT_EQ(create_shape_model(img.data, 160, 160, 2, 0.f, 360.f, 1.f, 1, &c, nullptr, &id), 0);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(clear_shape_model(0), 0);
    ASSERT_EQ(create_shape_model(img.data, 160, 160, 2, 0.f, 360.f, 1.f, 1, &c, nullptr, &id), 0);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(clear_shape_model(0), 0);
    EXPECT_EQ(clear_shape_model(1), 0);
    EXPECT_EQ(quro::shape_model_count(), 0u);
}

}  // namespace
