// The outline functions as a caller of libquro.so sees them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "quro/quro.h"

namespace {

TEST(SharedLibraryOutlines, OutlineFunctionsAreExportedWithCNames) {
    void* h = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(h, nullptr);
    for (const char* name :
         {"get_model_transform", "get_model_transform2", "get_model_transform_s",
          "get_model_transform2_s", "get_model_contour", "get_model_contour2", "get_model_contour3",
          "get_model_contour_s", "get_model_contour2_s", "get_model_contour3_s"}) {
        EXPECT_NE(dlsym(h, name), nullptr) << name;
    }
    EXPECT_EQ(dlsym(h,
                    "_ZN4quro16rotated_templateERKNS_16ShapeModelRecordEfifiRNS_13ModelPointSetINS_"
                    "7FeatureEEE"),
              nullptr);
    dlclose(h);
}

TEST(SharedLibraryOutlines, UnknownModelThroughTheSharedLibrary) {
    quro::TemplateF t = get_model_transform2_s(424242, 10.f, 1.f, 1.f);
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(t.handle, -1);
    EXPECT_EQ(t.points, nullptr);
    quro::TemplateI* out = nullptr;
    EXPECT_EQ(get_model_contour(424242, 0.f, 1.f, &out), -1);
    EXPECT_EQ(out, nullptr);
}

}  // namespace
