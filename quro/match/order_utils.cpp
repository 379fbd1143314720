#include "quro/match/order_utils.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "quro/numeric.h"

namespace quro {
namespace {

template <class Key, class Less>
std::vector<int> stable_argsort(const std::vector<Key>& keys, Less less) {
    std::vector<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys, &less](int a, int b) {
        return less(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]);
    });
    return order;
}

}  // namespace

float angle_diff_abs(float a, float b) { return std::abs(wrap_angle_180(a - b)); }

std::vector<int> argsort_int(const std::vector<int>& keys) {
    return stable_argsort(keys, [](int a, int b) { return a < b; });
}

std::vector<int> argsort_float(const std::vector<float>& keys) {
    return stable_argsort(keys, less_nan_last);
}

}  // namespace quro
