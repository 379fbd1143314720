// Giving a handle or a model id back when memory runs out: the entry must stay whole, never half
// removed. This executable's operator new can be told to fail once, on the calling thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "frame/model_file_support.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/result_registry.h"

namespace {

// Allocations on this thread still allowed before the next one fails; below 0: none fails.
thread_local int allocations_before_failure = -1;

}  // namespace

void* operator new(std::size_t size) {
    if (allocations_before_failure == 0) {
        allocations_before_failure = -1;
        throw std::bad_alloc();
    }
    if (allocations_before_failure > 0) --allocations_before_failure;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// For the registry and the model table: three entries; giving back the lowest (which needs
// memory, being below the top) fails; it must still be there, and clear and come back later.
TEST(AllocationFailure, EntryStaysWhenGivingItsNumberBackFails) {
    struct Store {
        int (*add)();
        bool (*present)(int);
        int (*clear)(int);
    };
    const Store stores[] = {
        {[] { return quro::register_result(quro::kResultBytes, std::malloc(8), 8); },
         [](int h) { quro::ResultEntry e{}; return quro::lookup_result(h, &e); }, clear_mems},
        {[] { return quro::add_shape_model(quro_test::distinctive_record()); },
         quro::has_shape_model, clear_shape_model},
    };
    for (const Store& s : stores) {
        const int a = s.add(), b = s.add(), c = s.add();
        allocations_before_failure = 0;
        EXPECT_EQ(s.clear(a), -1);
        allocations_before_failure = -1;
        EXPECT_TRUE(s.present(a)) << "entry lost";
        EXPECT_EQ(s.clear(a), 0);
        const int again = s.add();
        EXPECT_EQ(again, a) << "number lost";
        for (int x : {again, b, c}) EXPECT_EQ(s.clear(x), 0);
    }
}

}  // namespace
