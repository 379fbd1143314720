// Internals of the filter-based sub-pixel edge detector: per-pixel candidate maps, seeds, the
// linking of candidates into chains and the selection of chain points.
#ifndef QURO_EDGES_SUBPIX_DETECTOR_H
#define QURO_EDGES_SUBPIX_DETECTOR_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quro {

// Class map values.
inline constexpr std::uint8_t kNoCandidate = 0;
inline constexpr std::uint8_t kWeakCandidate = 1;
inline constexpr std::uint8_t kStrongCandidate = 2;
inline constexpr std::uint8_t kEmittedPixel = 8;  // a point was written out at this pixel

// At most this many strong pixels per run; more give -2.
inline constexpr long long kMaxStrongPixels = 65536;

// What the per-pixel fit stores for a candidate pixel.
struct EdgeCandidate {
    float x;         // sub-pixel column
    float y;         // sub-pixel row
    float angle;     // normal angle a in radians, [0, 2 pi]: the normal is (sin a, cos a) in (x, y)
    float edge_deg;  // tangent angle a + 90 degrees, in (0, 360]
    float magnitude;  // gradient magnitude at the pixel
    std::int32_t row;
    std::int32_t col;
    std::int32_t chain_label;  // chain number + 1 once a chain holds the pixel, 0 while free
    std::uint8_t cls;          // kWeakCandidate or kStrongCandidate
};

// An allocator that leaves new elements of trivial types uninitialised, so that a large buffer
// can be sized at once and filled in parallel.
template <class T>
struct UninitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitAllocator<U>;
    };
    UninitAllocator() = default;
    template <class U>
    UninitAllocator(const UninitAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// The maps of one run. The class map covers every pixel; the candidates are stored compactly in
// raster order, the candidates of row r at [row_start[r], row_start[r + 1]).
struct EdgeMaps {
    int width = 0;
    int height = 0;
    std::unique_ptr<std::uint8_t[]> cls;  // kNoCandidate, kWeakCandidate, ...
    std::vector<EdgeCandidate, UninitAllocator<EdgeCandidate>> candidates;  // raster order
    std::vector<std::size_t> row_start;                                     // height + 1 entries
    long long strong = 0;  // number of strong pixels

    std::size_t pixel(int row, int col) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(col);
    }
    // The record of a pixel whose class is not kNoCandidate.
    EdgeCandidate& candidate_at(int row, int col) {
        const auto first = candidates.begin() + static_cast<std::ptrdiff_t>(row_start[row]);
        const auto last = candidates.begin() + static_cast<std::ptrdiff_t>(row_start[row + 1]);
        return *std::lower_bound(first, last, col,
                                 [](const EdgeCandidate& e, int c) { return e.col < c; });
    }
};

// Builds the maps of an 8-bit image (row stride `step` bytes). Candidates lie at least `margin`
// (>= 1) pixels inside every border; a null mask accepts every pixel, otherwise pixels with mask
// byte 0 are no candidates. The fit runs as a parallel loop over runs of rows (quro/parallel.h).
// Throws std::bad_alloc when memory runs out.
void compute_edge_maps(const std::uint8_t* image, std::size_t step, int width, int height,
                       const std::uint8_t* mask, std::size_t mask_step, int margin, float low,
                       float high, EdgeMaps& maps);

// A strong pixel that may start a chain; `order` is its candidate number (raster order).
struct EdgeSeed {
    std::int32_t col;
    std::int32_t row;
    double magnitude;
    std::int32_t order;
};

// Strong pixels sorted by decreasing magnitude; equal magnitudes keep raster order.
std::vector<EdgeSeed> collect_seeds(const EdgeMaps& maps);

// A chain of sub-pixel points in walking order, three parallel arrays.
struct EdgeChain {
    std::vector<float> rows;
    std::vector<float> cols;
    std::vector<float> angles;  // normal angle a in radians

    std::size_t size() const { return rows.size(); }
    void push(float row, float col, float angle) {
        rows.push_back(row);
        cols.push_back(col);
        angles.push_back(angle);
    }
};

// Up to four pixel offsets (column, row) to look at for the next chain point.
struct LinkOffsets {
    int count = 0;
    int dc[4] = {0, 0, 0, 0};
    int dr[4] = {0, 0, 0, 0};
};

// Candidate pixels of one linking step, for the sub-pixel offset (oy, ox) of the current point
// within its pixel and the walking direction w in degrees (the unit step is (sin w, cos w) in
// (x, y)). The first offset may reach two pixels away.
LinkOffsets link_candidates(double oy, double ox, double w_deg);

// Grows chains from the seeds in order, labelling the candidates they take. Chains come back in
// the order of creation.
std::vector<EdgeChain> link_chains(EdgeMaps& maps, const std::vector<EdgeSeed>& seeds);

// Indices of the chain points to keep for a window of n points: none when count < n, all when
// n <= 1. Otherwise the starts of consecutive windows: a window grows from its start b while its
// points stay within 0.2 pixel of their best-fitting line, up to n points; the next window
// starts at the first point that left the line, or at the window's last point. When fewer than
// n points remain from a start, the last point is added if more than n / 2 remain.
std::vector<int> select_chain_points(const float* cols, const float* rows, int count, int n);

}  // namespace quro

#endif  // QURO_EDGES_SUBPIX_DETECTOR_H
