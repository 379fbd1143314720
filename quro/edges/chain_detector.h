// Internals of the chain edge detector: a double-precision image is smoothed by a separable
// Gaussian, its 3x3 gradient is taken, the gradient magnitude's maxima along the horizontal or
// vertical direction give sub-pixel edge points, neighbouring points are linked into chains by a
// distance score, and hysteresis on the magnitude keeps the chains that reach the high threshold.
//
// Input errors are written to stderr as "error: <text>\n" and thrown as ChainInputError, which
// the exports turn into -1.
#ifndef QURO_EDGES_CHAIN_DETECTOR_H
#define QURO_EDGES_CHAIN_DETECTOR_H

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <vector>

#include "quro/edges/sobel_magnitude.h"
#include "quro/edges/subpix_detector.h"
#include "quro/parallel.h"

namespace quro {

// Runs body(y) for rows y = first .. end-1 of an image `width` pixels wide, in parallel runs of
// consecutive rows (quro/parallel.h); images below 64k pixels run on the calling thread. Every
// per-row loop of the detector writes only its own rows, so results never depend on the threads.
template <class Body>
void for_each_row(int first, int end, int width, const Body& body) {
    if (end <= first) return;
    const std::size_t rows = static_cast<std::size_t>(end - first);
    const bool small = rows * static_cast<std::size_t>(width) < (std::size_t{1} << 16);
    const std::size_t grain = small ? rows : 16;
    parallel_for_ranges(rows, RangeCut{.serial_below = grain + 1, .grain = grain},
                        [&](std::size_t begin, std::size_t stop) {
                            for (std::size_t r = begin; r < stop; ++r)
                                body(first + static_cast<int>(r));
                        });
}

// An input error of the chain detector; what() is the text that went to stderr.
struct ChainInputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Writes "error: <text>\n" to stderr and throws ChainInputError(text).
[[noreturn]] void chain_input_error(const char* text);

// n weights exp(-0.5 ((i - mean) / sigma)^2), i = 0..n-1, normalised to sum 1, into kernel[0..n).
// Errors: a null kernel ("gaussian_kernel: kernel not allocated"), sigma not above 0 or n below 1
// ("gaussian_kernel: sigma must be positive").
void gaussian_kernel(double* kernel, int n, double sigma, double mean);

// Half size of the smoothing kernel for sigma: ceil(sigma * sqrt(6 ln 10)).
int gaussian_half_size(double sigma);

// Smooths the X x Y image in place with a separable Gaussian of sigma (> 0): rows, then columns,
// borders mirrored with period 2X (2Y). scratch holds X * Y doubles. Rows run in parallel.
// Errors: sigma not above 0 ("gaussian_filter: sigma must be positive"), X or Y below 1 or a null
// buffer ("gaussian_filter: invalid image").
void gaussian_filter(double* image, double* scratch, int X, int Y, double sigma);

// A vector whose new elements of trivial types are left uninitialised, for lists that a
// parallel loop fills.
template <class T>
using FillVector = std::vector<T, UninitAllocator<T>>;

// One sub-pixel edge point with the gradient of its pixel.
struct ChainPoint {
    double x, y;    // sub-pixel position
    double gx, gy;  // gradient at the pixel
    int pixel;      // index of the pixel (row * X + column)
};

// The arrays of one run. The per-pixel arrays hold X * Y entries; the edge points are numbered
// in pixel index order (row by row).
struct ChainMaps {
    int X = 0;
    int Y = 0;
    const double* image = nullptr;  // the image the gradient was taken of
    std::unique_ptr<double[]> mod;  // |G|, 0 where not computed
    std::unique_ptr<int[]> id;      // number of the pixel's edge point, -1 for none
    FillVector<ChainPoint> points;  // the edge points by number
    FillVector<double> strength;    // |G| of each edge point
    FillVector<int> next, prev;     // chain links between edge points, -1 for none

    // Allocates the per-pixel arrays (uninitialised) for an X x Y image. Throws std::bad_alloc.
    void allocate(int width, int height);
};

// Gx and Gy of the 3x3 gradient at pixel (x, y), inside the one-pixel border of an image X
// pixels wide: weights 0.5 for the pixel's own row (column) and 0.25 for the two beside it.
inline void gradient_at(const double* image, int X, int x, int y, double& gx, double& gy) {
    const double* mid = image + static_cast<std::ptrdiff_t>(y) * X;
    double sx, sy;
    sobel_sums(mid - X, mid, mid + X, x - 1, x, x + 1, sx, sy);
    gx = 0.25 * sx;
    gy = 0.25 * sy;
}

// |G| = sqrt(Gx^2 + Gy^2) on rows and columns 1..Y-2 and 1..X-2 where the mask byte is non-zero
// (null mask: everywhere), 0 elsewhere, and keeps the image for gradient_at(): Gx and Gy are
// taken again where an edge point needs them, with the same bits. Rows run in parallel.
void compute_gradient(const double* image, const unsigned char* mask, ChainMaps& maps);

// Sub-pixel maxima of |G| on rows and columns 2..Y-3 and 2..X-3: horizontal where |Gx| >= |Gy|,
// else vertical where |Gx| <= |Gy|, offset by the parabola through the three magnitudes. Fills
// the edge points, their numbers and orders, and clears every link. Rows run in parallel.
void compute_edge_points(ChainMaps& maps);

// Score of a link between two edge points (by number): 0 when they are the same or the edge
// lies on different sides of the step between them; otherwise 1/distance for a forward step
// (with the bright side on the right of the step, in image coordinates) and -1/distance for a
// backward one. A pixel without an edge point scores 0 with every other.
double chain_score(const ChainMaps& maps, int from, int to);

// Links every edge point to its best forward and backward neighbour in the 5 x 5 neighbourhood,
// visiting columns in the outer loop and rows in the inner one; a link replaces an older one
// into the same point only when it scores better.
void chain_edge_points(ChainMaps& maps);

// Keeps the chained points connected to a point with |G| >= high through points with
// |G| >= low, cutting links into weaker points; every other chained point loses its links.
void thresholds_with_hysteresis(ChainMaps& maps, double high, double low);

// The chains: point arrays and the offsets of each chain in them (chain c holds the points
// start[c] .. start[c + 1] - 1). A closed chain lists its first point again at its end.
struct EdgeChainList {
    FillVector<double> x, y, nx, ny;  // position and unit gradient (Gx, Gy) / |G|
    std::vector<int> start;           // chains + 1 entries

    int chains() const { return start.empty() ? 0 : static_cast<int>(start.size()) - 1; }
    int size(int c) const { return start[c + 1] - start[c]; }
};

// Lists the chains in the order of their first pixel met row by row, each from its first point
// along the links (a closed chain from the successor of that pixel). Clears the links it follows.
void list_edge_chains(ChainMaps& maps, EdgeChainList& out);

// The whole detector on an X x Y double image (smoothed in place when sigma > 0). mask may be
// null. Throws ChainInputError on an input error and std::bad_alloc when memory runs out.
EdgeChainList detect_edge_chains(double* image, int X, int Y, const unsigned char* mask,
                                 double sigma, double high, double low);

}  // namespace quro

#endif  // QURO_EDGES_CHAIN_DETECTOR_H
