// The model creation functions as a caller of libquro.so sees them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "quro/quro.h"

namespace {

TEST(SharedLibrary, CreationFunctionsAreExportedWithCNames) {
    void* h = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(h, nullptr);
    for (const char* name :
         {"create_shape_model", "create_shape_model_rr", "get_rot_img", "create_shape_model_xld",
          "create_shape_model_xld2", "create_shape_model_pol", "create_shape_model_xld3",
          "auto_shape_model_params", "auto_shape_model_params2"})
        EXPECT_NE(dlsym(h, name), nullptr) << name;
    // The internal entry point for other creation functions stays hidden.
    EXPECT_EQ(dlsym(h, "_ZN4quro23create_shape_model_implEPKhiiifffiPKNS_14ContrastParamsES1_Pii"),
              nullptr);
    dlclose(h);
}

TEST(SharedLibrary, ImageModelThroughTheSharedLibrary) {
    // A bright square on a dark 64 x 64 image.
    std::vector<unsigned char> img(64 * 64, 20);
    for (int r = 16; r < 48; ++r)
        for (int c = 16; c < 48; ++c) img[static_cast<std::size_t>(r * 64 + c)] = 200;
    const ContrastParams contrast{10, 30, 5, 10};
    int id = -1;
    ASSERT_EQ(
        create_shape_model(img.data(), 64, 64, 2, 0.f, 360.f, 1.f, 1, &contrast, nullptr, &id), 0);
    int levels = 0, width = 0;
    get_shape_model_param(id, "num_levels", &levels);
    get_shape_model_param(id, "width0", &width);
    EXPECT_EQ(levels, 2);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(clear_shape_model(id), 0);
    int untouched = 5;
    EXPECT_EQ(
        create_shape_model(img.data(), 64, 64, 2, 0.f, 360.f, 1.f, 1, nullptr, nullptr, &untouched),
        -1);
    EXPECT_EQ(untouched, 5);
}

TEST(SharedLibrary, OutlineModelsThroughTheSharedLibrary) {
    const ContrastParams contrast{10, 30, 5, 10};
    int id = -1;
    ASSERT_EQ(create_shape_model_xld(20.f, 10.f, 0, 0.f, 360.f, 1.f, 1, &contrast, &id), 0);
    int width = 0;
    get_shape_model_param(id, "width0", &width);
    EXPECT_EQ(width, 40);
    EXPECT_EQ(clear_shape_model(id), 0);
    EXPECT_EQ(create_shape_model_xld2(12, 0, 20.f, 10.f, 0, 0.f, 360.f, 1.f, 1, &contrast, &id),
              -3);
    const float x[2] = {0.f, 100.f}, y[2] = {0.f, 0.f};
    const char use[2] = {1, 1};
    ASSERT_EQ(create_shape_model_pol(x, y, use, 2, 0, 0.f, 360.f, 1.f, 1, &contrast, &id), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
    EXPECT_EQ(create_shape_model_xld3(x, y, x, y, 2, 0, 0.f, 360.f, 1.f, 1, &contrast, &id), -1);
}

}  // namespace
