// Thinning of an edge chain to the corners of a polyline approximation.
#include <algorithm>
#include <cmath>

#include "quro/edges/subpix_detector.h"

namespace quro {
namespace {

constexpr double kMaxLineDistance = 0.2;  // pixels

// Largest distance of points first..last from their best-fitting line (total least squares).
double line_fit_error(const float* cols, const float* rows, int first, int last) {
    const int n = last - first + 1;
    double mx = 0.0, my = 0.0;
    for (int k = first; k <= last; ++k) {
        mx += cols[k];
        my += rows[k];
    }
    mx /= n;
    my /= n;
    double sxx = 0.0, sxy = 0.0, syy = 0.0;
    for (int k = first; k <= last; ++k) {
        const double dx = cols[k] - mx, dy = rows[k] - my;
        sxx += dx * dx;
        sxy += dx * dy;
        syy += dy * dy;
    }
    sxx /= n;
    sxy /= n;
    syy /= n;
    // The covariance's major axis has angle phi; the line normal (its minor axis) is
    // perpendicular to it.
    const double phi = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    const double nx = -std::sin(phi), ny = std::cos(phi);
    double worst = 0.0;
    for (int k = first; k <= last; ++k)
        worst = std::max(worst, std::fabs((cols[k] - mx) * nx + (rows[k] - my) * ny));
    return worst;
}

}  // namespace

std::vector<int> select_chain_points(const float* cols, const float* rows, int count, int n) {
    std::vector<int> idx;
    if (count < n || count <= 0) return idx;
    if (n <= 1) {
        idx.resize(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k) idx[static_cast<std::size_t>(k)] = k;
        return idx;
    }
    int b = 0;
    while (b < count) {
        idx.push_back(b);
        if (count - 1 < b + n - 1) {
            if (count - b > n / 2) idx.push_back(count - 1);
            break;
        }
        int i = 1;
        for (; i <= n - 1; ++i)
            if (line_fit_error(cols, rows, b, b + i) > kMaxLineDistance) break;
        b += i <= n - 1 ? i : n - 1;
    }
    return idx;
}

}  // namespace quro
