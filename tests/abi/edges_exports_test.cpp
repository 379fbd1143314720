// The sub-pixel edge functions as a caller of libquro.so sees them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "quro/quro.h"

namespace {

TEST(SharedLibrary, EdgeFunctionsAreExportedWithCNames) {
    void* h = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(h, nullptr);
    for (const char* name : {"edges_sub_pix_gray", "find_sub_pix_contours", "get_subpix_pos"})
        EXPECT_NE(dlsym(h, name), nullptr) << name;
    // Internal helpers of the detector stay hidden.
    EXPECT_EQ(dlsym(h, "_ZN4quro15link_candidatesEddd"), nullptr);
    dlclose(h);
}

TEST(SharedLibrary, EdgeCallsThroughTheSharedLibraryWork) {
    std::vector<unsigned char> img(32 * 24, 0);
    for (int r = 0; r < 24; ++r)
        for (int c = 16; c < 32; ++c) img[static_cast<std::size_t>(r * 32 + c)] = 200;
    std::vector<EdgePoint> pts;
    EXPECT_EQ(edges_sub_pix_gray(img.data(), 32, 24, 0, 10.f, 30.f, 5, 1, &pts, nullptr), 0);
    ASSERT_FALSE(pts.empty());
    EXPECT_FLOAT_EQ(pts[0].x, 15.5f);
    std::vector<std::vector<EdgePoint>> chains;
    EXPECT_EQ(find_sub_pix_contours(img.data(), 32, 24, 0, 1, 10.f, 30.f, 5, 0, &chains, nullptr),
              0);
    EXPECT_FALSE(chains.empty());
    float out[4];
    EXPECT_TRUE(get_subpix_pos(img.data(), 32, 24, 15, 10, 10.f, out));
    EXPECT_FLOAT_EQ(out[0], 15.5f);
    EXPECT_EQ(edges_sub_pix_gray(nullptr, 32, 24, 0, 10.f, 30.f, 5, 1, &pts, nullptr), -1);
}

}  // namespace
