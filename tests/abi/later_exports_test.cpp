// The region, edge-chain, measuring, fitting and deformable-search functions as a caller of
// libquro.so sees them: every one exported under its C name.
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

TEST(SharedLibrary, RegionMeasureAndLaterSearchFunctionsAreExportedWithCNames) {
    void* h = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(h, nullptr);
    for (const char* name : {"bottom_hat_y",
                             "boundary_y",
                             "closing_y",
                             "compute_feature_y",
                             "connection_y",
                             "difference_y",
                             "dilation2_y",
                             "do_fit",
                             "do_fit2",
                             "do_measure",
                             "edges_sub_pix_gray_d",
                             "erosion2_y",
                             "fill_up_y",
                             "find_local_deformable_model",
                             "find_sub_pix_contours_c",
                             "find_sub_pix_contours_d",
                             "gen_measure_circle",
                             "gen_measure_ellipse",
                             "gen_measure_line",
                             "gen_region_points",
                             "gen_region_runs",
                             "gen_region_runs2",
                             "gen_se_circle",
                             "gen_se_cross",
                             "gen_se_rect",
                             "get_region_contour",
                             "get_region_runs",
                             "hit_or_miss_y",
                             "hit_or_miss_y2",
                             "integrate_adaptive",
                             "intersection_y",
                             "measure_pos_d",
                             "opening_y",
                             "ppw_to_rr",
                             "rr_to_pts",
                             "smallest_rectangle1_y",
                             "test_region_point",
                             "threshold_y",
                             "top_hat_y",
                             "union2_y"})
        EXPECT_NE(dlsym(h, name), nullptr) << name;
    dlclose(h);
}

}  // namespace
