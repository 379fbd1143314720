// Per-point agreement of matches with the image: the model outline placed at each match, scored
// point by point against the image's unit gradient normals.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <opencv2/core.hpp>

#include "quro/export_guard.h"
#include "quro/match/refine/normals.h"
#include "quro/model_table.h"
#include "quro/model_transforms.h"
#include "quro/numeric.h"
#include "quro/parallel.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {
namespace {

// Fills one element from its match. The outline is the model's full-resolution level at the
// match's angle and scales (the same points get_model_contour2_s hands out), taken directly from
// the model instead of through a registered outline. A model id not in the table leaves the
// element without points. Throws std::bad_alloc when its arrays cannot be allocated.
void fill_details(const Match& m, const cv::Mat& nx, const cv::Mat& ny, MatchDetails& d) {
    d.x = static_cast<float>(m.x) + m.dx;
    d.y = static_cast<float>(m.y) + m.dy;
    d.match = m;
    const auto rec = find_shape_model_record(m.model_id);
    if (!rec || rec->num_levels < 1 || rec->level_features.empty()) return;
    ModelPointSet<Feature> outline;
    rotated_template_aniso(*rec, m.angle, 1, m.scale_row, m.scale_col, 1, outline);
    d.min_x = outline.min_x;
    d.min_y = outline.min_y;
    const std::size_t n = outline.points.size();
    if (n == 0) return;
    auto* points = static_cast<Feature*>(std::malloc(n * sizeof(Feature)));
    auto* scores = static_cast<float*>(std::calloc(n, sizeof(float)));
    if (points == nullptr || scores == nullptr) {
        std::free(points);
        std::free(scores);
        throw std::bad_alloc();
    }
    std::memcpy(points, outline.points.data(), n * sizeof(Feature));
    for (std::size_t k = 0; k < n; ++k) {
        const Feature& p = outline.points[k];
        const int col = round_half_away(d.x + p.x);
        const int row = round_half_away(d.y + p.y);
        if (row < 0 || col < 0 || row >= nx.rows || col >= nx.cols) continue;
        scores[k] = nx.at<float>(row, col) * p.gx + ny.at<float>(row, col) * p.gy;
    }
    d.points = points;
    d.scores = scores;
    d.count = static_cast<int>(n);
}

}  // namespace

int get_match_details_impl(const unsigned char* data, int width, int height, float min_contrast,
                           const Match* matches, int count, const unsigned char* mask,
                           MatchDetails*& details) {
    if (count <= 0) return 0;
    if (data == nullptr || matches == nullptr || width < 1 || height < 1) return kFailed;
    cv::Mat image(height, width, CV_8UC1, const_cast<unsigned char*>(data));
    cv::Mat nx, ny;
    _getNormal33(image, nx, min_contrast, ny);
    if (mask != nullptr) {
        cv::Mat m(height, width, CV_8UC1, const_cast<unsigned char*>(mask));
        _setNxNyZero(m, nx, ny, 0);
    }
    // Filled first and registered last, so a failure leaves nothing behind.
    std::unique_ptr<MatchDetails[]> block(new MatchDetails[static_cast<std::size_t>(count)]);
    std::vector<unsigned char> failed(static_cast<std::size_t>(count), 0);
    parallel_for_index(static_cast<std::size_t>(count), [&](std::size_t i) {
        try {
            fill_details(matches[i], nx, ny, block[i]);
        } catch (...) {
            failed[i] = 1;
        }
    });
    for (unsigned char f : failed)
        if (f) return kFailed;
    const int handle = register_result(kResultDetails, block.get(), count);
    details = block.release();
    return handle;
}

}  // namespace quro

extern "C" QURO_API int get_match_details(unsigned char* data, int width, int height,
                                          float min_contrast, quro::Match* matches, int count,
                                          quro::MatchDetails*& details) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::get_match_details_impl(data, width, height, min_contrast, matches, count,
                                            nullptr, details);
    });
}

extern "C" QURO_API int get_match_details2(unsigned char* data, int width, int height,
                                           float min_contrast, quro::Match* matches, int count,
                                           unsigned char* mask, quro::MatchDetails*& details) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::get_match_details_impl(data, width, height, min_contrast, matches, count,
                                            mask, details);
    });
}
