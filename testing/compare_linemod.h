// Baseline of the search comparison: the gradient-orientation template detector of OpenCV's
// contrib rgbd module with its default settings, one template per degree over the full circle.
// Templates are made once (not timed). A search converts the scene to 3 channels, pads it on the
// right and bottom (edge pixels repeated) to a multiple of 40 pixels that every pyramid level's
// T divides at its scale (80 with the default T of 5 and 8: 640 x 480 stays, 2048 becomes 2080;
// conversion and padding are timed), matches at kThreshold percent similarity, suppresses
// neighbours and keeps the best n. Positions and angles are whole pixels and whole degrees: the
// detector has no sub-pixel stage.
#ifndef QURO_TESTING_COMPARE_LINEMOD_H
#define QURO_TESTING_COMPARE_LINEMOD_H

#ifndef QURO_TESTING_BASELINES
#error "compare_linemod.h needs OpenCV's rgbd module: link the quro_testing_baselines target"
#endif

#include <algorithm>
#include <cmath>
#include <numeric>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/rgbd/linemod.hpp>
#include <string>
#include <vector>

#include "testing/compare_scenes.h"
#include "testing/compare_score.h"

namespace compare {

class LinemodMatcher {
public:
    static constexpr float kThreshold = 80.f;

    explicit LinemodMatcher(const cv::Mat& model)
        : detector_(cv::linemod::getDefaultLINE()),
          min_distance_(0.5 * std::min(model.cols, model.rows)) {
        // Image sides must be divisible by T at every pyramid level (level l is 2^l smaller).
        multiple_ = 40;
        for (int l = 0; l < detector_->pyramidLevels(); ++l)
            multiple_ = std::lcm(multiple_, detector_->getT(l) << l);

        const double diag = std::hypot(model.cols, model.rows);
        const int half = static_cast<int>(std::ceil(0.5 * diag)) + 2;
        const cv::Size canvas(2 * half + 1, 2 * half + 1);
        cv::Mat model_f, ones(model.size(), CV_32F, cv::Scalar(1.0));
        model.convertTo(model_f, CV_32F);
        for (int a = 0; a < 360; ++a) {
            const cv::Mat m = paste_transform(model, half, half, a);
            cv::Mat img, cover, img8, img3;
            cv::warpAffine(model_f, img, m, canvas, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
            cv::warpAffine(ones, cover, m, canvas, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
            img.convertTo(img8, CV_8U);
            cv::cvtColor(img8, img3, cv::COLOR_GRAY2BGR);
            const cv::Mat mask = cover >= 0.999;
            cv::Rect box;
            const int id = detector_->addTemplate({img3}, "model", mask, &box);
            if (id < 0) continue;
            if (static_cast<int>(templates_.size()) <= id) templates_.resize(id + 1);
            // A match gives the top-left of the template's box; the centre lies this far from it.
            templates_[static_cast<std::size_t>(id)] = {a, half - box.x, half - box.y, true};
        }
    }

    int template_count() const { return detector_->numTemplates(); }
    int multiple() const { return multiple_; }

    std::vector<Detection> find(const cv::Mat& scene, int expected) const {
        cv::Mat padded, color;
        const int pw = (multiple_ - scene.cols % multiple_) % multiple_;
        const int ph = (multiple_ - scene.rows % multiple_) % multiple_;
        cv::copyMakeBorder(scene, padded, 0, ph, 0, pw, cv::BORDER_REPLICATE);
        cv::cvtColor(padded, color, cv::COLOR_GRAY2BGR);
        std::vector<cv::linemod::Match> matches;
        detector_->match({color}, kThreshold, matches);
        std::vector<Detection> dets;
        for (const cv::linemod::Match& m : matches) {
            if (m.template_id < 0 || m.template_id >= static_cast<int>(templates_.size())) continue;
            const TemplatePose& t = templates_[static_cast<std::size_t>(m.template_id)];
            if (!t.valid) continue;
            dets.push_back({static_cast<double>(m.x + t.off_x), static_cast<double>(m.y + t.off_y),
                            static_cast<double>(t.angle), m.similarity});
        }
        return suppress_neighbours(std::move(dets), min_distance_, expected);
    }

private:
    struct TemplatePose {
        int angle = 0;
        int off_x = 0;
        int off_y = 0;
        bool valid = false;
    };

    cv::Ptr<cv::linemod::Detector> detector_;
    double min_distance_;
    int multiple_ = 40;
    std::vector<TemplatePose> templates_;
};

}  // namespace compare

#endif  // QURO_TESTING_COMPARE_LINEMOD_H
