// What a caller of libquro.so sees: the documented functions are exported with C names, and
// internal functions are not.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "quro/quro.h"

namespace {

void* self() { return dlopen(nullptr, RTLD_NOW); }

TEST(SharedLibrary, FrameFunctionsAreExportedWithCNames) {
    void* h = self();
    ASSERT_NE(h, nullptr);
    for (const char* name :
         {"clear_mems", "clear_shape_model", "copy_shape_model", "set_shape_model_origin",
          "write_shape_model", "read_shape_model", "write_shape_model_b", "read_shape_model_b",
          "set_shape_model_param", "get_shape_model_param", "set_system",
          "set_match_result_offset", "invert_model_feature", "remove_model_feature",
          "open_console", "close_console", "clear_console", "write_line", "fnquro", "nquro"}) {
        EXPECT_NE(dlsym(h, name), nullptr) << name;
    }
    dlclose(h);
}

TEST(SharedLibrary, InternalFunctionsStayHidden) {
    void* h = self();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(dlsym(h, "_ZN4quro15register_resultEiPvi"), nullptr);
    EXPECT_EQ(dlsym(h, "_ZN4quro15add_shape_modelERKNS_16ShapeModelRecordE"), nullptr);
    dlclose(h);
}

TEST(SharedLibrary, CallsThroughTheSharedLibraryWork) {
    EXPECT_EQ(clear_mems(0), -1);
    EXPECT_EQ(clear_shape_model(-1), -1);
    int v = 4;
    get_shape_model_param(12345, "timeout", &v);
    EXPECT_EQ(v, 4);
    quro::TemplateF t;  // exported constructor and destructor
    EXPECT_EQ(t.handle, -1);
}

}  // namespace
