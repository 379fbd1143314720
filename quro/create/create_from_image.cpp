// Shape model creation from an 8-bit image and an optional mask.
#include "quro/create/create_from_image.h"

#include <opencv2/core.hpp>

#include "quro/create/creation_frame.h"
#include "quro/create/image_levels.h"
#include "quro/export_guard.h"
#include "quro/match/library_start.h"
#include "quro/status.h"

namespace quro {

int create_shape_model_impl(const unsigned char* image, int width, int height, int num_levels,
                            float angle_start, float angle_extent, float angle_step, int metric,
                            const ContrastParams* contrast, const unsigned char* mask, int* id,
                            int timeout_ms) {
    return guarded(kFailed, [&] {
        ensure_library_started();
        if (image == nullptr || contrast == nullptr || id == nullptr || width < 1 || height < 1)
            return kFailed;
        // The caller's buffers are wrapped, never written: the levels only read them.
        const cv::Mat img(height, width, CV_8UC1, const_cast<unsigned char*>(image));
        cv::Mat msk;
        if (mask != nullptr)
            msk = cv::Mat(height, width, CV_8UC1, const_cast<unsigned char*>(mask));

        const CreationArgs args{angle_start, angle_extent, angle_step, metric, *contrast};
        return run_creation(args, kImageCreationLabel, id,
                            [&](ShapeModelRecord& rec, Stopwatch& watch) {
                                rec.timeout_ms = timeout_ms;
                                return build_shape_model_levels(img, msk, num_levels, args.contrast,
                                                                rec, {watch, rec.timeout_ms});
                            });
    });
}

}  // namespace quro

extern "C" QURO_API int create_shape_model(const unsigned char* image, int width, int height,
                                           int num_levels, float angle_start, float angle_extent,
                                           float angle_step, int metric,
                                           const ContrastParams* contrast,
                                           const unsigned char* mask, int* id) {
    return quro::create_shape_model_impl(image, width, height, num_levels, angle_start,
                                         angle_extent, angle_step, metric, contrast, mask, id);
}
