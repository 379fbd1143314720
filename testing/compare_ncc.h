// Baseline of the search comparison: masked normalised cross-correlation, coarse to fine.
//
// Coarse: the scene reduced to 1/4 (INTER_AREA), matched against the model rotated in 4-degree
// steps over the full circle and reduced alike, each with its rotated mask (TM_CCOEFF_NORMED).
// The per-pixel best over all angles gives peaks (3x3 local maxima of at least kMinScore, the
// library search's min_score), suppressed within half the model's shorter side; the best
// max(2 n, n + 4) of them go on (n instances).
// Fine: at full resolution, angles within +-4 degrees of the coarse angle in 1-degree steps and
// positions within +-kFineRadius pixels of the coarse position, again masked. The best score's
// position and angle are refined by a parabola through the scores of the two neighbours along x,
// along y and along the angle (at the same position). Detections below kMinScore are dropped,
// then neighbours are suppressed and the best n kept. The scene is mirrored at its borders: by
// 2 pixels at the reduced scale (instances lie wholly inside the scene, so their templates overhang
// it by a pixel at most there), at full resolution enough for any template around any candidate.
#ifndef QURO_TESTING_COMPARE_NCC_H
#define QURO_TESTING_COMPARE_NCC_H

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "testing/compare_scenes.h"
#include "testing/compare_score.h"

namespace compare {

class NccMatcher {
public:
    static constexpr int kCoarseStep = 4;  // degrees
    static constexpr int kScale = 4;       // coarse level reduction
    static constexpr int kFineHalfRange = 4;
    static constexpr int kFineRadius = 6;  // pixels
    static constexpr double kMinScore = 0.7;

    explicit NccMatcher(const cv::Mat& model) : model_(model) {
        for (int a = 0; a < 360; a += kCoarseStep) coarse_.push_back(rotated(a, kScale));
        for (int a = 0; a < 360; ++a) fine_.push_back(rotated(a, 1));
        coarse_pad_ = 2;
        for (const Rotated& r : fine_) fine_pad_ = std::max({fine_pad_, r.cx, r.cy});
        fine_pad_ += kFineRadius + 1;
    }

    std::vector<Detection> find(const cv::Mat& scene, int expected) const {
        const std::vector<Candidate> cands = coarse_candidates(scene, expected);
        return refine(scene, cands, expected);
    }

private:
    // A rotated template: the model on an odd-sized canvas with its centre at (cx, cy), and the
    // mask of the pixels wholly covered by the model.
    struct Rotated {
        cv::Mat image;  // CV_32F at the coarse level, CV_8U at full resolution
        cv::Mat mask;   // CV_8U, 0 or 255
        int cx;
        int cy;
    };
    struct Candidate {
        double x;  // full-resolution reference point
        double y;
        int angle;  // degrees
        double score;
    };

    // The model rotated by `angle` and reduced by `scale`, on a canvas of (2 m + 1) pixels per
    // side at the reduced scale. The full-resolution canvas is scale (2 m + 1) wide with its centre
    // at scale m + (scale - 1) / 2, which INTER_AREA reduction maps onto pixel m exactly.
    Rotated rotated(int angle, int scale) const {
        const double t = angle * CV_PI / 180.0;
        const double c = std::fabs(std::cos(t)), s = std::fabs(std::sin(t));
        const double hx = 0.5 * (c * model_.cols + s * model_.rows);
        const double hy = 0.5 * (s * model_.cols + c * model_.rows);
        const int mx = static_cast<int>(std::ceil(hx / scale)),
                  my = static_cast<int>(std::ceil(hy / scale));
        const cv::Size full(scale * (2 * mx + 1), scale * (2 * my + 1));
        const double ox = scale * mx + 0.5 * (scale - 1), oy = scale * my + 0.5 * (scale - 1);
        const cv::Mat m = paste_transform(model_, ox, oy, angle);
        cv::Mat model_f, ones(model_.size(), CV_32F, cv::Scalar(1.0)), img, cover;
        model_.convertTo(model_f, CV_32F);
        cv::warpAffine(model_f, img, m, full, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
        cv::warpAffine(ones, cover, m, full, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
        if (scale > 1) {
            const cv::Size small(2 * mx + 1, 2 * my + 1);
            cv::resize(img, img, small, 0, 0, cv::INTER_AREA);
            cv::resize(cover, cover, small, 0, 0, cv::INTER_AREA);
        }
        Rotated r;
        r.mask = cover >= 0.999;
        if (scale > 1)
            r.image = img;
        else
            img.convertTo(r.image, CV_8U);
        r.cx = mx;
        r.cy = my;
        return r;
    }

    static float finite_or_low(float v) { return std::isfinite(v) ? v : -1.f; }

    std::vector<Candidate> coarse_candidates(const cv::Mat& scene, int expected) const {
        const cv::Size qs(scene.cols / kScale, scene.rows / kScale);
        cv::Mat small, padded, img;
        cv::resize(scene, small, qs, 0, 0, cv::INTER_AREA);
        const int p = coarse_pad_;
        cv::copyMakeBorder(small, padded, p, p, p, p, cv::BORDER_REFLECT_101);
        padded.convertTo(img, CV_32F);

        const int n = static_cast<int>(coarse_.size());
        std::vector<cv::Mat> res(static_cast<std::size_t>(n));
        cv::parallel_for_(cv::Range(0, n), [&](const cv::Range& r) {
            for (int a = r.start; a < r.end; ++a)
                if (coarse_[a].image.cols <= img.cols && coarse_[a].image.rows <= img.rows)
                    cv::matchTemplate(img, coarse_[a].image, res[a], cv::TM_CCOEFF_NORMED,
                                      coarse_[a].mask);
        });

        // Best score and angle per reference pixel of the reduced scene.
        cv::Mat best(qs, CV_32F, cv::Scalar(-2.f)), best_angle(qs, CV_32S, cv::Scalar(0));
        for (int a = 0; a < n; ++a) {
            const Rotated& t = coarse_[a];
            if (res[a].empty()) continue;
            // Result pixel (u, v) puts the template centre at padded (u + cx, v + cy), scene
            // pixel (u + cx - p, v + cy - p); only those where the template fits have a score.
            const int x0 = std::max(0, t.cx - p), x1 = std::min(qs.width, res[a].cols + t.cx - p);
            const int y0 = std::max(0, t.cy - p), y1 = std::min(qs.height, res[a].rows + t.cy - p);
            for (int y = y0; y < y1; ++y) {
                const float* row = res[a].ptr<float>(y + p - t.cy);
                float* b = best.ptr<float>(y);
                int* ba = best_angle.ptr<int>(y);
                for (int x = x0; x < x1; ++x) {
                    const float v = finite_or_low(row[x + p - t.cx]);
                    if (v > b[x]) {
                        b[x] = v;
                        ba[x] = a * kCoarseStep;
                    }
                }
            }
        }

        std::vector<Detection> peaks;
        cv::Mat dil;
        cv::dilate(best, dil, cv::Mat());
        for (int y = 0; y < qs.height; ++y)
            for (int x = 0; x < qs.width; ++x) {
                const float v = best.at<float>(y, x);
                if (v >= kMinScore && v >= dil.at<float>(y, x))
                    peaks.push_back({kScale * (x + 0.5) - 0.5, kScale * (y + 0.5) - 0.5,
                                     static_cast<double>(best_angle.at<int>(y, x)), v});
            }
        const int limit = std::max(2 * expected, expected + 4);
        const auto kept = suppress_neighbours(std::move(peaks), min_distance(), limit);
        std::vector<Candidate> out;
        for (const Detection& d : kept)
            out.push_back({d.x, d.y, static_cast<int>(d.angle), d.score});
        return out;
    }

    double min_distance() const { return 0.5 * std::min(model_.cols, model_.rows); }

    // Parabola vertex offset through three samples around a maximum, in (-0.5, 0.5).
    static double vertex(double lo, double mid, double hi) {
        const double den = lo - 2.0 * mid + hi;
        if (!(den < 0.0)) return 0.0;
        return std::clamp(0.5 * (lo - hi) / den, -0.5, 0.5);
    }

    std::vector<Detection> refine(const cv::Mat& scene, const std::vector<Candidate>& cands,
                                  int expected) const {
        const int p = fine_pad_;
        cv::Mat padded, img;
        cv::copyMakeBorder(scene, padded, p, p, p, p, cv::BORDER_REFLECT_101);
        padded.convertTo(img, CV_32F);

        const int per = 2 * kFineHalfRange + 1;
        const int jobs = static_cast<int>(cands.size()) * per;
        // maps[j]: score for reference points (X - R .. X + R, Y - R .. Y + R) of candidate
        // j / per at angle offset j % per - kFineHalfRange.
        std::vector<cv::Mat> maps(static_cast<std::size_t>(jobs));
        std::vector<cv::Point> origin(cands.size());
        for (std::size_t c = 0; c < cands.size(); ++c)
            origin[c] = cv::Point(static_cast<int>(std::lround(cands[c].x)) - kFineRadius,
                                  static_cast<int>(std::lround(cands[c].y)) - kFineRadius);
        cv::parallel_for_(cv::Range(0, jobs), [&](const cv::Range& r) {
            for (int j = r.start; j < r.end; ++j) {
                const std::size_t c = static_cast<std::size_t>(j / per);
                const int angle = fine_angle(cands[c].angle + j % per - kFineHalfRange);
                const Rotated& t = fine_[static_cast<std::size_t>(angle)];
                const cv::Rect roi(origin[c].x - t.cx + p, origin[c].y - t.cy + p,
                                   t.image.cols + 2 * kFineRadius, t.image.rows + 2 * kFineRadius);
                cv::Mat templ;
                t.image.convertTo(templ, CV_32F);
                cv::matchTemplate(img(roi), templ, maps[j], cv::TM_CCOEFF_NORMED, t.mask);
            }
        });

        std::vector<Detection> dets;
        for (std::size_t c = 0; c < cands.size(); ++c) {
            int bj = -1;
            cv::Point bp;
            float bv = -2.f;
            for (int k = 0; k < per; ++k) {
                const cv::Mat& m = maps[c * per + static_cast<std::size_t>(k)];
                for (int y = 0; y < m.rows; ++y)
                    for (int x = 0; x < m.cols; ++x) {
                        const float v = finite_or_low(m.at<float>(y, x));
                        if (v > bv) {
                            bv = v;
                            bj = k;
                            bp = cv::Point(x, y);
                        }
                    }
            }
            if (bj < 0 || bv < kMinScore) continue;
            const cv::Mat& m = maps[c * per + static_cast<std::size_t>(bj)];
            auto at = [](const cv::Mat& mm, int y, int x) {
                return static_cast<double>(finite_or_low(mm.at<float>(y, x)));
            };
            double dx = 0, dy = 0, da = 0;
            if (bp.x > 0 && bp.x < m.cols - 1)
                dx = vertex(at(m, bp.y, bp.x - 1), bv, at(m, bp.y, bp.x + 1));
            if (bp.y > 0 && bp.y < m.rows - 1)
                dy = vertex(at(m, bp.y - 1, bp.x), bv, at(m, bp.y + 1, bp.x));
            if (bj > 0 && bj < per - 1)
                da = vertex(at(maps[c * per + bj - 1], bp.y, bp.x), bv,
                            at(maps[c * per + bj + 1], bp.y, bp.x));
            const double angle = cands[c].angle + bj - kFineHalfRange + da;
            dets.push_back({origin[c].x + bp.x + dx, origin[c].y + bp.y + dy,
                            static_cast<double>(quro::wrap_angle_360(static_cast<float>(angle))),
                            bv});
        }
        return suppress_neighbours(std::move(dets), min_distance(), expected);
    }

    static int fine_angle(int a) { return ((a % 360) + 360) % 360; }

    cv::Mat model_;
    std::vector<Rotated> coarse_;
    std::vector<Rotated> fine_;
    int coarse_pad_ = 0;
    int fine_pad_ = 0;
};

}  // namespace compare

#endif  // QURO_TESTING_COMPARE_NCC_H
