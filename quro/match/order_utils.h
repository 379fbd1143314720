// Small numeric helpers of the matching core: angle distance and stable index sorts.
#ifndef QURO_MATCH_ORDER_UTILS_H
#define QURO_MATCH_ORDER_UTILS_H

#include <cmath>
#include <vector>

namespace quro {

// Strict weak order on floats that ranks NaN above every number (a plain "<" is no order once a
// NaN is present, and the standard sorts and selections are then undefined).
inline bool less_nan_last(float a, float b) {
    if (std::isnan(a)) return false;
    return std::isnan(b) || a < b;
}

// Strict weak order on floats for "best first" lists: larger values first, NaN after every
// number. Use it for every descending score sort, so that a NaN score can neither break the sort
// nor rise to the front.
inline bool greater_nan_last(float a, float b) {
    if (std::isnan(a)) return false;
    return std::isnan(b) || a > b;
}

// |a - b| in degrees after bringing a - b into (-180, 180]; NaN when a - b is not finite.
float angle_diff_abs(float a, float b);

// The indices 0 .. n-1 sorted stably by ascending key (equal keys keep ascending index order).
std::vector<int> argsort_int(const std::vector<int>& keys);

// As argsort_int; NaN keys sort after every number, among themselves by index.
std::vector<int> argsort_float(const std::vector<float>& keys);

}  // namespace quro

#endif  // QURO_MATCH_ORDER_UTILS_H
