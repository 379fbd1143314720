#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/result_registry.h"

namespace {
thread_local bool fail_next_allocation = false;  // this executable's operator new fails once
}  // namespace

void* operator new(std::size_t size) {
    void* p = fail_next_allocation ? nullptr : std::malloc(size ? size : 1);
    fail_next_allocation = false;
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
// The replaced operator new above allocates with malloc, so free is the matching release; the
// compiler cannot see that pairing through the replacement.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

void* malloc_bytes(int n) { return std::malloc(static_cast<std::size_t>(n)); }

// Giving back a handle or id below the top needs memory; when that fails the entry stays whole.
TEST(RegistryHandles, EntryStaysWhenGivingItsNumberBackFails) {
    using Store = std::tuple<int (*)(), bool (*)(int), int (*)(int)>;  // add, present, clear
    for (const auto& [add, present, clear] :
         {Store{[] { return quro::register_result(quro::kResultBytes, nullptr, 0); },
                [](int h) { quro::ResultEntry e; return quro::lookup_result(h, &e); }, clear_mems},
          Store{[] { return quro::add_shape_model(quro::ShapeModelRecord{}); },
                quro::has_shape_model, clear_shape_model}}) {
        const int a = add(), b = add(), c = add();
        fail_next_allocation = true;
        EXPECT_EQ(clear(a), -1);
        EXPECT_TRUE(present(a)) << "entry lost";
        EXPECT_EQ(clear(a), 0);
        EXPECT_EQ(add(), a) << "number lost";
        for (int x : {a, b, c}) EXPECT_EQ(clear(x), 0);
    }
}

TEST(RegistryHandles, LowestFreeHandleIsReused) {
    const int a = quro::register_result(quro::kResultBytes, malloc_bytes(8), 8);
    const int b = quro::register_result(quro::kResultBytes, malloc_bytes(8), 8);
    const int c = quro::register_result(quro::kResultBytes, malloc_bytes(8), 8);
    ASSERT_GE(a, 1);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_EQ(clear_mems(b), 0);
    const int d = quro::register_result(quro::kResultBytes, malloc_bytes(8), 8);
    EXPECT_EQ(d, b);
    EXPECT_EQ(clear_mems(a), 0);
    EXPECT_EQ(clear_mems(c), 0);
    EXPECT_EQ(clear_mems(d), 0);
}

TEST(RegistryHandles, LowestOfSeveralFreedHandlesComesFirst) {
    std::vector<int> h;
    for (int i = 0; i < 6; ++i) h.push_back(quro::register_result(quro::kResultBytes, nullptr, 0));
    EXPECT_EQ(clear_mems(h[4]), 0);
    EXPECT_EQ(clear_mems(h[1]), 0);
    EXPECT_EQ(clear_mems(h[5]), 0);  // the top handle: the fresh range shrinks
    EXPECT_EQ(quro::register_result(quro::kResultBytes, nullptr, 0), h[1]);
    EXPECT_EQ(quro::register_result(quro::kResultBytes, nullptr, 0), h[4]);
    EXPECT_EQ(quro::register_result(quro::kResultBytes, nullptr, 0), h[5]);
    for (int x : h) EXPECT_EQ(clear_mems(x), 0);
}

TEST(RegistryErrors, NonPositiveUnknownAndTwiceClearedHandlesFail) {
    EXPECT_EQ(clear_mems(0), -1);
    EXPECT_EQ(clear_mems(-5), -1);
    EXPECT_EQ(clear_mems(1 << 30), -1);
    const int h = quro::register_result(quro::kResultBytes, malloc_bytes(4), 4);
    EXPECT_EQ(clear_mems(h), 0);
    EXPECT_EQ(clear_mems(h), -1);
}

TEST(RegistryEntries, LookupReportsCountKindAndBlock) {
    void* block = malloc_bytes(16);
    const int h = quro::register_result(quro::kResultRRect, block, 3);
    quro::ResultEntry e{};
    ASSERT_TRUE(quro::lookup_result(h, &e));
    EXPECT_EQ(e.count, 3);
    EXPECT_EQ(e.block, block);
    EXPECT_EQ(e.kind, quro::kResultRRect);
    EXPECT_EQ(clear_mems(h), 0);
    EXPECT_FALSE(quro::lookup_result(h, &e));
}

// The sanitizer build turns any double free or leak in these into a failure.
TEST(RegistryFreeing, OutlineKindsFreeObjectAndPointsOnce) {
    auto* ti = new quro::TemplateI;
    ti->count = 3;
    ti->points = static_cast<quro::FeatureI*>(std::malloc(sizeof(quro::FeatureI) * 3));
    auto* tf = new quro::TemplateF;
    tf->count = 2;
    tf->points = static_cast<quro::Feature*>(std::malloc(sizeof(quro::Feature) * 2));
    const int hi = quro::register_result(quro::kResultTemplateI, ti, 3);
    const int hf = quro::register_result(quro::kResultTemplateF, tf, 2);
    EXPECT_EQ(clear_mems(hi), 0);
    EXPECT_EQ(clear_mems(hf), 0);
}

TEST(RegistryFreeing, ArrayKindsRunEveryDestructorOnce) {
    const std::size_t before = quro::registered_result_count();
    auto* details = new quro::MatchDetails[3];
    for (int i = 0; i < 3; ++i) {
        details[i].count = 2;
        details[i].points = static_cast<quro::Feature*>(std::malloc(sizeof(quro::Feature) * 2));
        details[i].scores = static_cast<float*>(std::malloc(sizeof(float) * 2));
    }
    auto* contours = new quro::Contour[2];
    contours[1].count = 1;
    contours[1].points = static_cast<quro::EdgePoint*>(std::malloc(sizeof(quro::EdgePoint)));
    auto* fields = new quro::VectorField[2];
    fields[0].width = 2;
    fields[0].height = 2;
    fields[0].map_x = static_cast<float*>(std::malloc(sizeof(float) * 4));
    fields[0].map_y = static_cast<float*>(std::malloc(sizeof(float) * 4));
    const int h7 = quro::register_result(quro::kResultDetails, details, 3);
    const int h8 = quro::register_result(quro::kResultContours, contours, 2);
    const int h9 = quro::register_result(quro::kResultFields, fields, 2);
    EXPECT_EQ(quro::registered_result_count(), before + 3);
    EXPECT_EQ(clear_mems(h7), 0);
    EXPECT_EQ(clear_mems(h8), 0);
    EXPECT_EQ(clear_mems(h9), 0);
    EXPECT_EQ(quro::registered_result_count(), before);
}

TEST(RegistryFreeing, MallocKindsWithZeroCountStillFreeTheirBlock) {
    for (int kind : {0, 3, 4, 5, 6}) {
        const int h = quro::register_result(kind, malloc_bytes(32), 0);
        EXPECT_EQ(clear_mems(h), 0) << "kind " << kind;
    }
}

TEST(RegistryFreeing, UnknownKindForgetsEntryButLeavesBlock) {
    int owned[4] = {1, 2, 3, 4};
    const int h = quro::register_result(42, owned, 4);
    EXPECT_EQ(clear_mems(h), 0);
    EXPECT_EQ(owned[3], 4);  // untouched, and not freed (it lives on the stack)
    EXPECT_EQ(clear_mems(h), -1);
}

TEST(RegistryConcurrency, ParallelRegisterAndReleaseStayConsistent) {
    const std::size_t before = quro::registered_result_count();
    constexpr int kThreads = 8;
    constexpr int kPairs = 10000;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures, t] {
            std::vector<int> mine;
            for (int i = 0; i < kPairs; ++i) {
                int* p = static_cast<int*>(std::malloc(sizeof(int)));
                *p = t * kPairs + i;
                const int h = quro::register_result(quro::kResultBytes, p, 1);
                quro::ResultEntry e{};
                if (!quro::lookup_result(h, &e) || e.block != p ||
                    *static_cast<int*>(e.block) != t * kPairs + i)
                    failures.fetch_add(1);
                mine.push_back(h);
                if (mine.size() > 4) {  // keep a few outstanding to exercise reuse
                    if (clear_mems(mine.front()) != 0) failures.fetch_add(1);
                    mine.erase(mine.begin());
                }
            }
            for (int h : mine)
                if (clear_mems(h) != 0) failures.fetch_add(1);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(quro::registered_result_count(), before);
}

TEST(RegistryHandles, HandlesAreUniqueWhileOutstanding) {
    std::set<int> seen;
    std::vector<int> hs;
    for (int i = 0; i < 1000; ++i) {
        const int h = quro::register_result(quro::kResultBytes, nullptr, 0);
        EXPECT_TRUE(seen.insert(h).second);
        hs.push_back(h);
    }
    for (int h : hs) EXPECT_EQ(clear_mems(h), 0);
}

}  // namespace
