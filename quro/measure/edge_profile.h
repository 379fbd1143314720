// Edge measuring along one handle: the grey-value profile averaged across the handle, its
// Gaussian derivative, the edges at the derivative's extrema and the choice of one edge.
#ifndef QURO_MEASURE_EDGE_PROFILE_H
#define QURO_MEASURE_EDGE_PROFILE_H

#include <vector>

#include "quro/measure/handle_layout.h"

namespace quro {

// An 8-bit image read in place: width bytes per row, height rows.
struct MeasureImage {
    const unsigned char* pixels;
    int width;
    int height;
};

// A handle placed in an image: its centre, directions and the integer halves of its sample grid.
struct PlacedHandle {
    double cx, cy;
    HandleDirections dir;
    int half_length;  // samples k = -half_length .. half_length along the axis
    int half_width;   // samples m = -half_width .. half_width across it
};

// Places the handle (x, y, angle, half_length, half_width) in `image`. Returns false, leaving
// *out unchanged, when a value is not finite, half_length or half_width is negative, or one of
// the four corners lies outside the pixel centres 1 .. width - 2 and 1 .. height - 2 (so every
// bilinear sample reads inside the image).
bool place_handle(double x, double y, double angle, double half_length, double half_width,
                  const MeasureImage& image, PlacedHandle* out);

// Whether sigma can drive a derivative kernel: finite, above 0 and at most kMaxMeasureSigma,
// which keeps the kernel below a million taps.
inline constexpr double kMaxMeasureSigma = 100000.0;
bool usable_sigma(double sigma);

// Taps of the Gaussian derivative for `sigma` (usable): h = ceil(3.46087178201605 sigma), taps
// j = -h .. h with tap j = g(j - 0.5) - g(j + 0.5), g the normal density of sigma, and
// g(+-(h + 0.5)) taken as 0. Correlated with a rising profile it gives positive values.
std::vector<double> gaussian_derivative_kernel(double sigma);

// profile[k + half_length]: the mean of the 2 half_width + 1 bilinear samples across the handle
// at axis step k.
void sample_profile(const MeasureImage& image, const PlacedHandle& h, std::vector<double>& profile);

// d[i] = sum_j profile[clamp(i + j)] taps[j + h], times sqrt(2 pi) sigma: the derivative scaled
// so that a step of height s gives an amplitude close to s for large sigma.
void derivative_profile(const std::vector<double>& profile, const std::vector<double>& taps,
                        double sigma, std::vector<double>& d);

// One edge on a handle's axis: position and signed amplitude (positive: dark to bright along the
// profile).
struct MeasuredEdge {
    double x, y, amplitude;
};

// Derivative values closer than kDerivativeTie times the largest |d| of the profile tie: rounding
// must not split a flat stretch into extrema.
inline constexpr double kDerivativeTie = 1e-9;

// The edges of d in profile order: the positive local maxima and the negative local minima of the
// inner samples with |d[j]| > threshold, each placed at the vertex of the parabola through its
// three samples. Tied neighbours form a plateau, which counts once when the samples beyond both
// of its ends lie below it (maximum) or above it (minimum): a two-sample plateau at the parabola's
// vertex, midway between them; a longer one (a ramp's flat derivative) at its middle, with the
// middle sample's value. A dip between two rising steps is no edge.
void profile_edges(const PlacedHandle& h, const std::vector<double>& d, double threshold,
                   std::vector<MeasuredEdge>& edges);

// Which edge a handle reports.
struct EdgeSelect {
    enum Order { kFirst, kLast, kStrongest } order;
    int polarity;  // +1 rising only, -1 falling only, 0 either
};
// "first", "last" (either polarity, or with a "+" or "-" suffix) and "strongest"; every other
// text, and null, means the strongest (the first of equal magnitudes).
EdgeSelect parse_edge_select(const char* select);

// Index into `edges` of the chosen edge, or -1.
int choose_edge(const std::vector<MeasuredEdge>& edges, EdgeSelect rule);

// Per-thread work buffers of one handle measurement.
struct MeasureScratch {
    std::vector<double> profile;
    std::vector<double> d;
    std::vector<MeasuredEdge> edges;
};

// What every handle of one measurement shares.
struct EdgeMeasure {
    MeasureImage image;
    double sigma;
    double threshold;
    std::vector<double> taps;
    EdgeSelect select;
};

// The chosen edge of one handle as (x, y), or (-1, -1) when it leaves the image or no edge
// qualifies.
void select_measure_edge(const RRect& handle, const EdgeMeasure& m, MeasureScratch& scratch,
                         double* x, double* y);

// select_measure_edge for every handle, on the calling thread when the handles hold little work in
// all, else shared out by the library's parallel helper; xy[2 i] and xy[2 i + 1] receive handle
// i's result. Returns 0, or -1 when a measurement threw.
int measure_handles_parallel(const EdgeMeasure& m, const RRect* handles, int count, double* xy);

}  // namespace quro

#endif  // QURO_MEASURE_EDGE_PROFILE_H
