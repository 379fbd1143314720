// Adaptive Gauss-Kronrod 7/15 quadrature, used by the ellipse layout to space handles by arc
// length and exported as integrate_adaptive.
#ifndef QURO_MEASURE_ADAPTIVE_QUADRATURE_H
#define QURO_MEASURE_ADAPTIVE_QUADRATURE_H

#include <functional>

namespace quro {

// The integral of f over [lower, upper] (a reversed interval gives the negated value). Each
// interval takes the 15-point Kronrod sum as its value and |Kronrod - Gauss 7| as its error; it is
// accepted when its depth exceeds max_depth, when the error is at most
// max(tolerance, tolerance * |value|), when it is too narrow to halve, or when its value or error
// is not finite (so a NaN integrand ends at once instead of splitting down to max_depth).
// Otherwise both halves recurse with depth + 1. The accepted errors are summed into *error when
// error is not null.
// Throws std::invalid_argument "max_depth must be positive" (max_depth < 1) or "Integration
// limits must be finite"; exceptions of f pass through.
double integrate_gauss_kronrod(const std::function<double(double)>& f, double lower, double upper,
                               double tolerance, int max_depth, double* error);

}  // namespace quro

#endif  // QURO_MEASURE_ADAPTIVE_QUADRATURE_H
