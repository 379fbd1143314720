// The chain detector's exports: edges_sub_pix_gray_d (points of the chains above a size in one
// list), find_sub_pix_contours_d (one list per such chain) and find_sub_pix_contours_c (every
// chain as a registered quro::Contour array).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <opencv2/core/types.hpp>
#include <vector>

#include "quro/edges/chain_detector.h"
#include "quro/edges/chain_edges.h"
#include "quro/edges/geometry.h"
#include "quro/export_guard.h"
#include "quro/parallel.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {
namespace {

// Checks the image arguments (printing the detector's message for a bad one) and runs the
// detector. Returns kOk with the chains, or kFailed.
int run_chain_detector(const unsigned char* image, int width, int height, float sigma, float low,
                       float high, const unsigned char* mask, EdgeChainList& chains) {
    try {
        if (!(sigma >= 0.f)) chain_input_error("gaussian_filter: sigma must be positive");
        if (width < 1 || height < 1)
            chain_input_error(sigma != 0.f ? "gaussian_filter: invalid image"
                                           : "compute_gradient: invalid input");
        if (image == nullptr ||
            static_cast<long long>(width) * static_cast<long long>(height) > INT_MAX)
            chain_input_error("compute_gradient: invalid input");
        // A kernel wider than twice the image's larger side plus one only repeats the image's
        // reflections, at a cost that grows with sigma without bound.
        if (static_cast<double>(sigma) * std::sqrt(6.0 * std::log(10.0)) >
            static_cast<double>(std::max(width, height)))
            chain_input_error("gaussian_filter: invalid image");
        const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        const std::unique_ptr<double[]> pixels(new double[n]);
        double* p = pixels.get();
        const std::size_t w = static_cast<std::size_t>(width);
        for_each_row(0, height, width, [&](int y) {
            const std::size_t row = static_cast<std::size_t>(y) * w;
            for (std::size_t x = 0; x < w; ++x) p[row + x] = image[row + x];
        });
        chains = detect_edge_chains(p, width, height, mask, sigma, high, low);
        return kOk;
    } catch (const ChainInputError&) {
        return kFailed;
    } catch (const std::bad_alloc&) {
        return kFailed;
    }
}

EdgePoint edge_point(const EdgeChainList& chains, int i) {
    const std::size_t k = static_cast<std::size_t>(i);
    return EdgePoint{static_cast<float>(chains.x[k]), static_cast<float>(chains.y[k]),
                     static_cast<float>(chains.nx[k]), static_cast<float>(chains.ny[k])};
}

// Copies chain c's points into dst (room for chains.size(c) points).
void copy_chain(const EdgeChainList& chains, int c, EdgePoint* dst) {
    for (int i = chains.start[c]; i < chains.start[c + 1]; ++i) *dst++ = edge_point(chains, i);
}

// Chains per parallel run when the chains are shared out.
constexpr RangeCut kChainRuns{.serial_below = 64, .grain = 32};

// The diameter of each chain's points as the caller receives them (float positions), chains in
// parallel.
std::vector<double> chain_diameters(const EdgeChainList& chains) {
    std::vector<double> diameters(static_cast<std::size_t>(chains.chains()));
    parallel_for_ranges(diameters.size(), kChainRuns, [&](std::size_t begin, std::size_t end) {
        std::vector<EdgePoint> points;
        std::vector<cv::Point2d> pts;
        for (std::size_t c = begin; c < end; ++c) {
            const int ci = static_cast<int>(c);
            points.resize(static_cast<std::size_t>(chains.size(ci)));
            copy_chain(chains, ci, points.data());
            pts.clear();
            for (const EdgePoint& e : points) pts.emplace_back(e.x, e.y);
            diameters[c] = hull_diameter(pts);
        }
    });
    return diameters;
}

// The chains whose diameter is at least min_size, in order.
std::vector<int> chains_of_size(const EdgeChainList& chains, float min_size) {
    const std::vector<double> diameters = chain_diameters(chains);
    std::vector<int> kept;
    for (std::size_t c = 0; c < diameters.size(); ++c)
        if (diameters[c] >= static_cast<double>(min_size)) kept.push_back(static_cast<int>(c));
    return kept;
}

// The frame of the two size-filtered exports: runs the detector and hands the chains with the
// numbers of those whose diameter is at least min_size to emit. Returns 0 or -1.
template <class Emit>
int with_sized_chains(const unsigned char* image, int width, int height, float sigma, float low,
                      float high, float min_size, const unsigned char* mask, Emit&& emit) {
    return guarded(kFailed, [&]() -> int {
        EdgeChainList chains;
        const int rc = run_chain_detector(image, width, height, sigma, low, high, mask, chains);
        if (rc != kOk) return rc;
        emit(chains, chains_of_size(chains, min_size));
        return kOk;
    });
}

}  // namespace
}  // namespace quro

using quro::EdgeChainList;

extern "C" QURO_API int edges_sub_pix_gray_d(const unsigned char* image, int width, int height,
                                             float sigma, float low, float high, float min_size,
                                             std::vector<EdgePoint>* out,
                                             const unsigned char* mask) {
    if (out == nullptr) return quro::kFailed;
    return quro::with_sized_chains(image, width, height, sigma, low, high, min_size, mask,
                                   [&](const EdgeChainList& chains, const std::vector<int>& kept) {
                                       std::size_t total = 0;
                                       for (const int c : kept)
                                           total += static_cast<std::size_t>(chains.size(c));
                                       out->reserve(out->size() + total);
                                       for (const int c : kept)
                                           for (int i = chains.start[c]; i < chains.start[c + 1];
                                                ++i)
                                               out->push_back(quro::edge_point(chains, i));
                                   });
}

extern "C" QURO_API int find_sub_pix_contours_d(const unsigned char* image, int width, int height,
                                                float sigma, float low, float high, float min_size,
                                                std::vector<std::vector<EdgePoint>>* out,
                                                const unsigned char* mask) {
    if (out == nullptr) return quro::kFailed;
    return quro::with_sized_chains(
        image, width, height, sigma, low, high, min_size, mask,
        [&](const EdgeChainList& chains, const std::vector<int>& kept) {
            std::vector<std::vector<EdgePoint>> lists(kept.size());
            for (std::size_t k = 0; k < kept.size(); ++k) {
                const int c = kept[k];
                lists[k].resize(static_cast<std::size_t>(chains.size(c)));
                quro::copy_chain(chains, c, lists[k].data());
            }
            out->reserve(out->size() + lists.size());
            for (auto& l : lists) out->push_back(std::move(l));
            return quro::kOk;
        });
}

int quro::find_sub_pix_contours_c_impl(const unsigned char* image, int width, int height,
                                        float sigma, float low, float high, quro::Contour** out,
                                        int* count, const unsigned char* mask) {
    if (count != nullptr) *count = 0;
    if (out == nullptr || count == nullptr) return quro::kFailed;
    return quro::guarded(quro::kFailed, [&]() -> int {
        EdgeChainList chains;
        const int rc =
            quro::run_chain_detector(image, width, height, sigma, low, high, mask, chains);
        if (rc != quro::kOk) return rc;
        const int n = chains.chains();
        if (n == 0) return quro::kOk;
        const std::vector<double> diameters = quro::chain_diameters(chains);
        std::unique_ptr<quro::Contour[]> block(new quro::Contour[static_cast<std::size_t>(n)]);
        quro::parallel_for_ranges(
            static_cast<std::size_t>(n), quro::kChainRuns, [&](std::size_t begin, std::size_t end) {
                for (std::size_t c = begin; c < end; ++c) {
                    quro::Contour& ct = block[c];
                    const int size = chains.size(static_cast<int>(c));
                    ct.points = static_cast<EdgePoint*>(
                        std::malloc(static_cast<std::size_t>(size) * sizeof(EdgePoint)));
                    if (ct.points == nullptr) throw std::bad_alloc();
                    ct.count = size;
                    ct.diameter = diameters[c];
                    quro::copy_chain(chains, static_cast<int>(c), ct.points);
                }
            });
        const int handle = quro::register_result(quro::kResultContours, block.get(), n);
        *out = block.release();
        *count = n;
        return handle;
    });
}

extern "C" QURO_API int find_sub_pix_contours_c(const unsigned char* image, int width, int height,
                                                float sigma, float low, float high,
                                                quro::Contour** out, int* count,
                                                const unsigned char* mask) {
    return quro::find_sub_pix_contours_c_impl(image, width, height, sigma, low, high, out, count,
                                              mask);
}
