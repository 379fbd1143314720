#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "quro/match/order_utils.h"

namespace {

// The plain definition: add or subtract 360 until inside (-180, 180], in single precision.
float loop_diff(float a, float b) {
    float d = a - b;
    while (d <= -180.f) d += 360.f;
    while (d > 180.f) d -= 360.f;
    return std::abs(d);
}

TEST(AngleDiff, WrapsIntoHalfOpenRange) {
    EXPECT_EQ(quro::angle_diff_abs(170.f, -170.f), 20.f);
    EXPECT_EQ(quro::angle_diff_abs(0.f, 180.f), 180.f);
    EXPECT_EQ(quro::angle_diff_abs(-180.f, 0.f), 180.f);
    EXPECT_EQ(quro::angle_diff_abs(10.f, 10.f), 0.f);
    EXPECT_EQ(quro::angle_diff_abs(359.f, 0.f), 1.f);
    EXPECT_EQ(quro::angle_diff_abs(-540.f, 0.f), 180.f);
}

TEST(AngleDiff, EqualsTheAddSubtractLoopWithin720) {
    cv::RNG rng(23);
    for (int i = 0; i < 20000; ++i) {
        const float a = rng.uniform(-360.f, 360.f), b = rng.uniform(-360.f, 360.f);
        ASSERT_EQ(quro::angle_diff_abs(a, b), loop_diff(a, b)) << a << " " << b;
    }
}

TEST(AngleDiff, NonFiniteAndHugeDifferencesReturnAtOnce) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(std::isnan(quro::angle_diff_abs(inf, 0.f)));
    EXPECT_TRUE(std::isnan(quro::angle_diff_abs(0.f, -inf)));
    EXPECT_TRUE(std::isnan(quro::angle_diff_abs(std::nanf(""), 1.f)));
    const float huge = quro::angle_diff_abs(1e30f, 0.f);  // d - 360 == d in float
    EXPECT_GE(huge, 0.f);
    EXPECT_LE(huge, 180.f);
}

TEST(Argsort, IntegersSortStablyByKey) {
    EXPECT_EQ(quro::argsort_int({2, 1, 2, 0}), (std::vector<int>{3, 1, 0, 2}));
    EXPECT_TRUE(quro::argsort_int({}).empty());
    EXPECT_EQ(quro::argsort_int({5}), (std::vector<int>{0}));
}

template <class Key>
std::vector<int> reference_order(const std::vector<Key>& keys) {
    std::vector<std::pair<Key, int>> pairs;
    for (std::size_t i = 0; i < keys.size(); ++i) pairs.emplace_back(keys[i], static_cast<int>(i));
    std::sort(pairs.begin(), pairs.end());  // key, then index: the stable order
    std::vector<int> out;
    for (const auto& p : pairs) out.push_back(p.second);
    return out;
}

TEST(Argsort, RandomKeysWithManyTiesMatchTheKeyThenIndexOrder) {
    cv::RNG rng(31);
    for (int n : {1, 2, 5, 17, 64, 1000}) {
        std::vector<int> ikeys(static_cast<std::size_t>(n));
        std::vector<float> fkeys(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            ikeys[static_cast<std::size_t>(i)] = rng.uniform(-5, 6);
            fkeys[static_cast<std::size_t>(i)] = static_cast<float>(rng.uniform(0, 9)) * 0.25f;
        }
        EXPECT_EQ(quro::argsort_int(ikeys), reference_order(ikeys)) << n;
        EXPECT_EQ(quro::argsort_float(fkeys), reference_order(fkeys)) << n;
    }
}

TEST(Argsort, NaNKeysGoLastInIndexOrder) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> keys = {nan, 2.f, -1.f, nan, 2.f, 0.f};
    EXPECT_EQ(quro::argsort_float(keys), (std::vector<int>{2, 5, 1, 4, 0, 3}));
    for (int i = 0; i < 100; ++i) keys.push_back(i % 3 ? nan : static_cast<float>(i % 7));
    const std::vector<int> order = quro::argsort_float(keys);
    ASSERT_EQ(order.size(), keys.size());
    bool seen_nan = false;
    for (int idx : order) {
        if (std::isnan(keys[static_cast<std::size_t>(idx)])) seen_nan = true;
        else EXPECT_FALSE(seen_nan) << "number after a NaN key";
    }
}

TEST(GreaterNaNLast, OrdersDescendingWithNaNAfterEveryNumber) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v{0.5f, nan, -inf, 0.9f, nan, inf, 0.5f, -1.f};
    std::stable_sort(v.begin(), v.end(), quro::greater_nan_last);
    const std::vector<float> numbers{inf, 0.9f, 0.5f, 0.5f, -1.f, -inf};
    for (std::size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(v[i], numbers[i]) << i;
    EXPECT_TRUE(std::isnan(v[6]) && std::isnan(v[7]));
    EXPECT_FALSE(quro::greater_nan_last(nan, nan));  // irreflexive, also for NaN
    EXPECT_FALSE(quro::greater_nan_last(0.5f, 0.5f));
}

}  // namespace
