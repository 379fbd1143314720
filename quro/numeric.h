// Numeric helpers shared by the whole library: one definition each.
#ifndef QURO_NUMERIC_H
#define QURO_NUMERIC_H

#include <cmath>

namespace quro {

// Pi, written once; every angle constant of the library derives from it.
inline constexpr double kPi = 3.14159265358979323846;
inline constexpr float kTwoPiF = static_cast<float>(2.0 * kPi);
inline constexpr float kHalfPiF = static_cast<float>(kPi / 2.0);

// Degrees to radians, as a float factor (the float nearest pi / 180), and back.
inline constexpr float kDegToRad = 0.017453292f;
static_assert(kDegToRad == static_cast<float>(kPi / 180.0));
inline constexpr float kRadToDeg = static_cast<float>(180.0 / kPi);
// Radians to degrees and back in double precision.
inline constexpr double kRadToDegD = 180.0 / kPi;
inline constexpr double kDegToRadD = kPi / 180.0;

// Rounds half away from zero: adds 0.5 to a value >= 0, subtracts 0.5 from a negative one, then
// truncates (2.5 -> 3, -2.5 -> -3).
inline int round_half_away(float v) {
    return static_cast<int>(v >= 0.f ? v + 0.5f : v - 0.5f);
}
inline int round_half_away(double v) { return static_cast<int>(v >= 0.0 ? v + 0.5 : v - 0.5); }

// Wraps an angle in degrees into (-180, 180]. NaN and infinities come back as NaN.
inline float wrap_angle_180(float deg) {
    if (!std::isfinite(deg)) return std::nanf("");
    float r = std::fmod(deg, 360.f);  // (-360, 360)
    if (r > 180.f) r -= 360.f;
    else if (r <= -180.f) r += 360.f;
    return r;
}

// Wraps an angle in degrees into [0, 360). NaN and infinities come back as NaN.
inline float wrap_angle_360(float deg) {
    if (!std::isfinite(deg)) return std::nanf("");
    float r = std::fmod(deg, 360.f);  // (-360, 360)
    if (r < 0.f) r += 360.f;
    if (r >= 360.f) r -= 360.f;  // a tiny negative remainder can round up to 360
    return r;
}

// An edge normal with x = column and y = row components.
struct Normal2 {
    float nx;
    float ny;
};

// The 2x2 symmetric eigen-decompositions return a vector as (row component, column component);
// this turns it into a normal (nx = column, ny = row). Use it instead of swapping by hand.
inline Normal2 normal_from_eigenvector(float row_component, float col_component) {
    return Normal2{col_component, row_component};
}

}  // namespace quro

#endif  // QURO_NUMERIC_H
