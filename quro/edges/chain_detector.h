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

namespace quro {

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
// borders mirrored with period 2X (2Y). scratch holds X * Y doubles. Rows run in parallel; the
// result does not depend on the number of threads.
// Errors: sigma not above 0 ("gaussian_filter: sigma must be positive"), X or Y below 1 or a null
// buffer ("gaussian_filter: invalid image").
void gaussian_filter(double* image, double* scratch, int X, int Y, double sigma);

// The per-pixel arrays of one run (X * Y entries each) and the edge pixels found in them.
struct ChainMaps {
    int X = 0;
    int Y = 0;
    std::unique_ptr<double[]> gx, gy, mod;  // gradient and its magnitude; 0 where not computed
    std::unique_ptr<double[]> ex, ey;       // sub-pixel edge point, -1 where there is none
    std::unique_ptr<int[]> next, prev;      // chain links, -1 for none
    std::vector<int> edges;  // indices of the pixels with an edge point, row by row

    // Allocates every array (uninitialised) for an X x Y image. Throws std::bad_alloc.
    void allocate(int width, int height);
};

// Gx, Gy and |G| of the 3x3 gradient with weights 0.5 (the pixel's own row or column) and 0.25
// (the two beside it), on rows and columns 1..Y-2 and 1..X-2 where the mask byte is non-zero
// (null mask: everywhere); 0 elsewhere. Rows run in parallel.
void compute_gradient(const double* image, const unsigned char* mask, ChainMaps& maps);

// Sub-pixel maxima of |G| on rows and columns 2..Y-3 and 2..X-3: horizontal where |Gx| >= |Gy|,
// else vertical where |Gx| <= |Gy|, offset by the parabola through the three magnitudes. Sets
// ex, ey (-1 elsewhere), clears every link and lists the edge pixels. Rows run in parallel.
void compute_edge_points(ChainMaps& maps);

// Score of a link between two pixels: 0 when they are the same, either has no edge point, or
// the edge lies on different sides of the step between them; otherwise 1/distance for a forward
// step (with the bright side on the right of the step, in image coordinates) and -1/distance for a
// backward one.
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
    std::vector<double> x, y, nx, ny;  // position and unit gradient (Gx, Gy) / |G|
    std::vector<int> start;            // chains + 1 entries

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
