// Gradient magnitude and the per-pixel sub-pixel fit of the filter-based edge detector.
#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "quro/edges/quadratic_peak.h"
#include "quro/edges/sobel_magnitude.h"
#include "quro/edges/subpix_detector.h"
#include "quro/numeric.h"
#include "quro/parallel.h"

namespace quro {
namespace {

constexpr std::size_t kMinParallelPixels = 256 * 256;
// Rows of one run of the parallel fit: each run computes two magnitude rows beyond its own.
constexpr std::size_t kRowsPerRun = 32;

// Row or column index reflected at the border without repeating the edge (OpenCV's default).
int reflect101(int i, int n) {
    if (n == 1) return 0;
    if (i < 0) return -i;
    if (i >= n) return 2 * n - 2 - i;
    return i;
}

// Sobel magnitudes of image row r, border columns and rows reflected. `sq` is scratch of width
// ints. The square root runs four lanes at a time; SSE's square root is correctly rounded, so
// every lane equals magnitude_from_square().
void magnitude_row(const std::uint8_t* image, std::size_t step, int width, int height, int r,
                   int* sq, float* out) {
    const std::uint8_t* up = image + static_cast<std::size_t>(reflect101(r - 1, height)) * step;
    const std::uint8_t* mid = image + static_cast<std::size_t>(r) * step;
    const std::uint8_t* down = image + static_cast<std::size_t>(reflect101(r + 1, height)) * step;
    for (int c = 1; c < width - 1; ++c) {
        int sx, sy;
        sobel_sums(up, mid, down, c - 1, c, c + 1, sx, sy);
        sq[c] = sx * sx + sy * sy;
    }
    for (int c : {0, width - 1}) {
        int sx, sy;
        sobel_sums(up, mid, down, reflect101(c - 1, width), c, reflect101(c + 1, width), sx, sy);
        sq[c] = sx * sx + sy * sy;
    }
    const __m128 quarter = _mm_set1_ps(0.25f);
    int c = 0;
    for (; c + 4 <= width; c += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sq + c));
        _mm_storeu_ps(out + c, _mm_mul_ps(_mm_sqrt_ps(_mm_cvtepi32_ps(v)), quarter));
    }
    for (; c < width; ++c) out[c] = magnitude_from_square(sq[c]);
}

// Three magnitude rows kept by a run of rows while it walks down them.
struct MagnitudeRing {
    std::vector<int> sq;
    std::vector<float> rows[3];
    int held[3] = {-1, -1, -1};  // image row held by each slot

    explicit MagnitudeRing(int width) : sq(static_cast<std::size_t>(width)) {
        for (auto& r : rows) r.resize(static_cast<std::size_t>(width));
    }
    const float* get(const std::uint8_t* image, std::size_t step, int width, int height, int r) {
        const int slot = r % 3;
        if (held[slot] != r) {
            magnitude_row(image, step, width, height, r, sq.data(), rows[slot].data());
            held[slot] = r;
        }
        return rows[slot].data();
    }
};

}  // namespace

void compute_edge_maps(const std::uint8_t* image, std::size_t step, int width, int height,
                       const std::uint8_t* mask, std::size_t mask_step, int margin, float low,
                       float high, EdgeMaps& maps) {
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t n = w * static_cast<std::size_t>(height);
    maps.width = width;
    maps.height = height;
    maps.cls = std::make_unique_for_overwrite<std::uint8_t[]>(n);
    maps.candidates.clear();

    margin = std::max(margin, 1);
    const int r0 = margin, r1 = height - 1 - margin;  // candidate rows and columns, inclusive
    const int c0 = margin, c1 = width - 1 - margin;

    std::uint8_t* const cls = maps.cls.get();
    std::vector<std::vector<EdgeCandidate>> found(static_cast<std::size_t>(height));
    std::atomic<long long> strong{0};
    // Small images are faster on one thread than shared out.
    const std::size_t rows = static_cast<std::size_t>(height);
    const std::size_t grain = n >= kMinParallelPixels ? kRowsPerRun : rows;
    const RangeCut cut{.serial_below = grain + 1, .grain = grain};

    // One run of consecutive rows: the magnitude ring carries two rows from one row to the next.
    auto fit_rows = [&](std::size_t first, std::size_t end) {
        MagnitudeRing ring(width);
        long long run_strong = 0;
        const __m128 low4 = _mm_set1_ps(low);
        for (int r = static_cast<int>(first); r < static_cast<int>(end); ++r) {
            std::uint8_t* cls_row = cls + static_cast<std::size_t>(r) * w;
            std::memset(cls_row, kNoCandidate, w);
            if (r < r0 || r > r1) continue;
            const float* m_up = ring.get(image, step, width, height, r - 1);
            const float* m_mid = ring.get(image, step, width, height, r);
            const float* m_down = ring.get(image, step, width, height, r + 1);
            const std::uint8_t* i_up = image + static_cast<std::size_t>(r - 1) * step;
            const std::uint8_t* i_mid = i_up + step;
            const std::uint8_t* i_down = i_mid + step;
            const std::uint8_t* mask_row =
                mask != nullptr ? mask + static_cast<std::size_t>(r) * mask_step : nullptr;
            std::vector<EdgeCandidate>& row_found = found[static_cast<std::size_t>(r)];
            for (int c = c0; c <= c1; ++c) {
                // Skip four pixels at a time while none exceeds low.
                while (c + 3 <= c1 &&
                       _mm_movemask_ps(_mm_cmpgt_ps(_mm_loadu_ps(m_mid + c), low4)) == 0)
                    c += 4;
                if (c > c1) break;
                const float m = m_mid[c];
                if (!(m > low)) continue;
                if (mask_row != nullptr && mask_row[c] == 0) continue;
                const float nb[9] = {m_up[c - 1],  m_up[c],       m_up[c + 1], m_mid[c - 1], m,
                                     m_mid[c + 1], m_down[c - 1], m_down[c],   m_down[c + 1]};
                QuadraticPeak pk;
                if (!fit_quadratic_peak(nb, pk)) continue;
                int sx, sy;
                sobel_sums(i_up, i_mid, i_down, c - 1, c, c + 1, sx, sy);
                const float gx = static_cast<float>(sx) * 0.25f;
                const float gy = static_cast<float>(sy) * 0.25f;
                const float dot = pk.nx * gx + pk.ny * gy;
                if (!(std::fabs(dot) / m > 0.5f)) continue;
                // Orient the normal along the gradient (dark to bright): the test above keeps
                // |dot| well away from 0, so its sign decides the flip unambiguously.
                float a = std::atan2(pk.nx, pk.ny);
                if (a < 0.f) a += kTwoPiF;
                if (dot <= 0.f) {
                    a += kTwoPiF * 0.5f;
                    if (a > kTwoPiF) a -= kTwoPiF;
                }
                float e = a + kHalfPiF;
                if (e > kTwoPiF) e -= kTwoPiF;
                const bool is_strong = m > high;
                const std::uint8_t cl = is_strong ? kStrongCandidate : kWeakCandidate;
                row_found.push_back(EdgeCandidate{static_cast<float>(c) + pk.ox,
                                                  static_cast<float>(r) + pk.oy, a, e * kRadToDeg,
                                                  m, r, c, 0, cl});
                cls_row[c] = cl;
                run_strong += is_strong ? 1 : 0;
            }
        }
        strong.fetch_add(run_strong, std::memory_order_relaxed);
    };
    parallel_for_ranges(rows, cut, fit_rows);
    maps.strong = strong.load();

    // Gather the rows' candidates in raster order.
    maps.row_start.assign(static_cast<std::size_t>(height) + 1, 0);
    for (int r = 0; r < height; ++r)
        maps.row_start[static_cast<std::size_t>(r) + 1] =
            maps.row_start[static_cast<std::size_t>(r)] + found[static_cast<std::size_t>(r)].size();
    if (maps.row_start.back() > static_cast<std::size_t>(INT32_MAX)) throw std::bad_alloc();
    maps.candidates.resize(maps.row_start.back());
    EdgeCandidate* const all = maps.candidates.data();
    parallel_for_ranges(rows, cut, [&](std::size_t first, std::size_t end) {
        for (std::size_t r = first; r < end; ++r)
            std::copy(found[r].begin(), found[r].end(), all + maps.row_start[r]);
    });
}

std::vector<EdgeSeed> collect_seeds(const EdgeMaps& maps) {
    std::vector<EdgeSeed> seeds;
    std::vector<std::uint32_t> keys;
    seeds.reserve(static_cast<std::size_t>(maps.strong));
    keys.reserve(static_cast<std::size_t>(maps.strong));
    for (std::size_t i = 0; i < maps.candidates.size(); ++i) {
        const EdgeCandidate& ec = maps.candidates[i];
        if (ec.cls != kStrongCandidate) continue;
        seeds.push_back(EdgeSeed{ec.col, ec.row, ec.magnitude, static_cast<std::int32_t>(i)});
        // Magnitudes are never negative, and non-negative floats order like their bit patterns:
        // the complement sorts the largest magnitude first.
        std::uint32_t bits;
        std::memcpy(&bits, &ec.magnitude, sizeof bits);
        keys.push_back(~bits);
    }
    // Stable radix sort on the keys, 11 bits per pass: decreasing magnitude, and raster order
    // (the order of collection) among equal magnitudes.
    const std::size_t n = seeds.size();
    std::vector<EdgeSeed> seeds_tmp(n);
    std::vector<std::uint32_t> keys_tmp(n);
    for (int shift = 0; shift < 32; shift += 11) {
        std::size_t count[2049] = {};
        for (const std::uint32_t k : keys) ++count[((k >> shift) & 2047u) + 1];
        for (int b = 0; b < 2048; ++b) count[b + 1] += count[b];
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t to = count[(keys[i] >> shift) & 2047u]++;
            seeds_tmp[to] = seeds[i];
            keys_tmp[to] = keys[i];
        }
        seeds.swap(seeds_tmp);
        keys.swap(keys_tmp);
    }
    return seeds;
}

}  // namespace quro
