// The filter-based sub-pixel edge exports: edges_sub_pix_gray (selected points of all chains
// in one list) and find_sub_pix_contours (every point, one list per chain).
#include "quro/edges/subpix_edges.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "quro/edges/geometry.h"
#include "quro/edges/subpix_detector.h"
#include "quro/export_guard.h"
#include "quro/quro.h"
#include "quro/status.h"

namespace quro {
namespace {

// Whether a smoothing kernel of blur_size fits the image: a kernel wider than twice the image's
// larger side plus one would only repeat its reflections, at a cost that grows with the size.
bool blur_fits_image(int blur_size, int width, int height) {
    return static_cast<long long>(blur_size) <= 2LL * std::max(width, height) + 1;
}

// Smoothing, gradient, per-pixel fit and linking, shared by both exports. Returns kOk with the
// chains in creation order (possibly none), or kTooManyStrongPixels.
int detect_chains(const unsigned char* image, int width, int height, int blur_size, int margin,
                  float low, float high, const unsigned char* mask, EdgeMaps& maps,
                  std::vector<EdgeChain>& chains) {
    const std::uint8_t* pixels = image;
    std::size_t step = static_cast<std::size_t>(width);
    cv::Mat blurred;
    if (blur_size >= 1) {
        const int k = blur_size % 2 == 0 ? blur_size + 1 : blur_size;  // only odd sizes exist
        const cv::Mat src(height, width, CV_8UC1, const_cast<unsigned char*>(image));
        cv::GaussianBlur(src, blurred, cv::Size(k, k), 0.0, 0.0, cv::BORDER_DEFAULT);
        pixels = blurred.ptr<std::uint8_t>(0);
        step = blurred.step[0];
    }
    compute_edge_maps(pixels, step, width, height, mask, static_cast<std::size_t>(width), margin,
                      low, high, maps);
    if (maps.strong > kMaxStrongPixels) return kTooManyStrongPixels;
    if (maps.strong == 0) return kOk;
    chains = link_chains(maps, collect_seeds(maps));
    return kOk;
}

// Whether a chain's point set is wider than min_length - 1.
bool long_enough(const EdgeChain& ch, int min_length) {
    std::vector<cv::Point2d> pts(ch.size());
    for (std::size_t i = 0; i < ch.size(); ++i) pts[i] = cv::Point2d(ch.cols[i], ch.rows[i]);
    return hull_diameter(pts) > static_cast<double>(min_length) - 1.0;
}

EdgePoint edge_point(const EdgeChain& ch, std::size_t i) {
    return EdgePoint{ch.cols[i], ch.rows[i], std::sin(ch.angles[i]), std::cos(ch.angles[i])};
}

void report_out_of_memory() {
    std::fprintf(stderr, "%s: %s\n", "detlines", "Out of memory");
}

// Runs body, turning an allocation failure into the detector's message and -1, and any other
// exception into -1.
template <class F>
int run_detector(F&& body) {
    return guarded(kFailed, [&]() -> int {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            report_out_of_memory();
            return kFailed;
        } catch (const cv::Exception& e) {
            if (e.code == cv::Error::StsNoMem) report_out_of_memory();
            return kFailed;
        }
    });
}

}  // namespace

int edges_sub_pix_gray_impl(const unsigned char* image, int width, int height, int blur_size,
                            float low, float high, int min_length, int window,
                            std::vector<EdgePoint>* out, const unsigned char* mask) {
    if (image == nullptr || out == nullptr || width < 1 || height < 1) return kFailed;
    if (!blur_fits_image(blur_size, width, height)) return kFailed;
    return run_detector([&]() -> int {
        EdgeMaps maps;
        std::vector<EdgeChain> chains;
        const int rc =
            detect_chains(image, width, height, blur_size, 1, low, high, mask, maps, chains);
        if (rc != kOk) return rc;

        std::vector<std::size_t> order(chains.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return chains[a].size() > chains[b].size();
        });

        std::vector<EdgePoint> points;
        const std::size_t w = static_cast<std::size_t>(width);
        for (const std::size_t ci : order) {
            const EdgeChain& ch = chains[ci];
            if (!long_enough(ch, min_length)) continue;
            const std::vector<int> sel = select_chain_points(ch.cols.data(), ch.rows.data(),
                                                             static_cast<int>(ch.size()), window);
            for (const int k : sel) {
                const std::size_t i = static_cast<std::size_t>(k);
                const int px = static_cast<int>(ch.cols[i] + 0.5f);
                const int py = static_cast<int>(ch.rows[i] + 0.5f);
                if (px < 0 || px >= width || py < 0 || py >= height) continue;
                std::uint8_t& cls = maps.cls[static_cast<std::size_t>(py) * w + px];
                if (cls == kEmittedPixel) continue;
                cls = kEmittedPixel;
                points.push_back(edge_point(ch, i));
            }
        }
        out->insert(out->end(), points.begin(), points.end());
        return kOk;
    });
}

int find_sub_pix_contours_impl(const unsigned char* image, int width, int height, int blur_size,
                               int margin, float low, float high, int min_length,
                               std::vector<std::vector<EdgePoint>>* out,
                               const unsigned char* mask) {
    if (image == nullptr || out == nullptr || width < 1 || height < 1) return kFailed;
    if (!blur_fits_image(blur_size, width, height)) return kFailed;
    return run_detector([&]() -> int {
        EdgeMaps maps;
        std::vector<EdgeChain> chains;
        const int rc = detect_chains(image, width, height, blur_size, std::max(margin, 1), low,
                                     high, mask, maps, chains);
        if (rc != kOk) return rc;
        std::vector<std::vector<EdgePoint>> lists;
        for (const EdgeChain& ch : chains) {
            if (!long_enough(ch, min_length)) continue;
            std::vector<EdgePoint> pts(ch.size());
            for (std::size_t i = 0; i < ch.size(); ++i) pts[i] = edge_point(ch, i);
            lists.push_back(std::move(pts));
        }
        out->reserve(out->size() + lists.size());
        for (auto& l : lists) out->push_back(std::move(l));
        return kOk;
    });
}

}  // namespace quro

extern "C" QURO_API int edges_sub_pix_gray(const unsigned char* image, int width, int height,
                                           int blur_size, float low, float high, int min_length,
                                           int window, std::vector<EdgePoint>* out,
                                           const unsigned char* mask) {
    return quro::edges_sub_pix_gray_impl(image, width, height, blur_size, low, high, min_length,
                                         window, out, mask);
}

extern "C" QURO_API int find_sub_pix_contours(const unsigned char* image, int width, int height,
                                              int blur_size, int margin, float low, float high,
                                              int min_length, int /*reserved*/,
                                              std::vector<std::vector<EdgePoint>>* out,
                                              const unsigned char* mask) {
    return quro::find_sub_pix_contours_impl(image, width, height, blur_size, margin, low, high,
                                            min_length, out, mask);
}
