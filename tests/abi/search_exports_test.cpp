// The search functions as a caller of libquro.so sees them: C names, and a search through the
// shared library that hands out a registered match array.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "quro/quro.h"

namespace {

TEST(SharedLibrary, SearchFunctionsAreExportedWithCNames) {
    void* h = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(h, nullptr);
    for (const char* name :
         {"find_shape_model", "find_shape_model_2", "find_scaled_shape_model",
          "find_scaled_shape_model_2", "find_aniso_shape_model", "find_aniso_shape_model_2",
          "find_shape_models", "find_shape_models_2", "find_shape_model_xl", "find_shape_models_xl",
          "get_match_details", "get_match_details2"})
        EXPECT_NE(dlsym(h, name), nullptr) << name;
    dlclose(h);
}

TEST(SharedLibrary, SearchThroughTheSharedLibrary) {
    // A bright L-shaped plate on a dark image: model and scene are the same image.
    std::vector<unsigned char> img(96 * 96, 30);
    for (int r = 20; r < 76; ++r)
        for (int c = 20; c < 76; ++c)
            if (r < 44 || c < 44) img[static_cast<std::size_t>(r * 96 + c)] = 210;
    const ContrastParams contrast{10, 30, 5, 10};
    int id = -1;
    ASSERT_EQ(create_shape_model(img.data(), 96, 96, 0, 0.f, 360.f, 0.f, 1, &contrast, nullptr,
                                 &id),
              0);
    set_shape_model_param(id, "timeout", 0);
    quro::Match* res = nullptr;
    int count = 0;
    const int h = find_shape_model(img.data(), 96, 96, id, -10.f, 20.f, 0.8f, 1, 0.5f, 2, nullptr,
                                   0.8f, res, count);
    ASSERT_GE(h, 1);
    ASSERT_EQ(count, 1);
    EXPECT_NEAR(res[0].x + res[0].dx, 47.5, 0.1);  // the model image's centre
    EXPECT_NEAR(res[0].y + res[0].dy, 47.5, 0.1);
    EXPECT_NEAR(res[0].angle, 0.0, 0.1);
    quro::MatchDetails* d = nullptr;
    const int dh = get_match_details(img.data(), 96, 96, 10.f, res, count, d);
    ASSERT_GE(dh, 1);
    EXPECT_GT(d[0].count, 0);
    EXPECT_EQ(clear_mems(dh), 0);
    EXPECT_EQ(clear_mems(h), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

}  // namespace
