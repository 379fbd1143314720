// Shape model creation from a rotated rectangle of an image: the rectangle is cut out upright
// (and the caller's image-sized mask with it) and handed to creation from an image.
#include <opencv2/core.hpp>

#include "quro/create/create_from_image.h"
#include "quro/create/rotated_extraction.h"
#include "quro/export_guard.h"
#include "quro/quro.h"
#include "quro/status.h"

extern "C" QURO_API int create_shape_model_rr(const unsigned char* image, int width, int height,
                                              double cx, double cy, double angle, double len1,
                                              double len2, int num_levels, float angle_start,
                                              float angle_extent, float angle_step, int metric,
                                              const ContrastParams* contrast,
                                              const unsigned char* mask, int* id) {
    using namespace quro;
    return guarded(kFailed, [&] {
        if (contrast == nullptr || id == nullptr) return kFailed;
        const cv::Mat cut = crop_rotated_rect(image, width, height, cx, cy, angle, len1, len2);
        if (cut.empty()) return kFailed;
        // The mask is the image's size: it is cut out with the same geometry. Marked pixels
        // become 255 first, so that only a cut-out pixel without any marked pixel under its
        // samples (or one outside the image) comes out 0 and is ignored.
        cv::Mat cut_mask;
        if (mask != nullptr) {
            cv::Mat marked;
            cv::compare(cv::Mat(height, width, CV_8UC1, const_cast<unsigned char*>(mask)), 0,
                        marked, cv::CMP_NE);
            cut_mask = crop_rotated_rect(marked.data, width, height, cx, cy, angle, len1, len2);
        }
        return create_shape_model_impl(cut.data, cut.cols, cut.rows, num_levels, angle_start,
                                       angle_extent, angle_step, metric, contrast,
                                       cut_mask.empty() ? nullptr : cut_mask.data, id);
    });
}
