// Near-symmetric and repetitive models for the search tests: a gear whose teeth repeat every
// 360 / teeth degrees, and a row of repeated glyphs, each with one small asymmetric mark that
// alone makes every rotation distinct (with textured_scenes.h's coin, a knurled disc), and a
// printed page whose lines repeat. Drawn at kTextureSuper times their size and reduced by area
// averaging.
#ifndef QURO_TESTING_SYMMETRIC_MODELS_H
#define QURO_TESTING_SYMMETRIC_MODELS_H

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "testing/textured_scenes.h"

namespace compare {

// A gear of `teeth` teeth and `diameter` pixels (tip circle), light on a dark ground, with a
// round hub hole and a small hole off the axis between hub and teeth.
inline cv::Mat render_gear_model(std::mt19937& rng, int teeth, int diameter) {
    const int s = kTextureSuper;
    const int side = (diameter + 8) * s;
    const double r_tip = 0.5 * diameter * s,
                 depth = std::min(0.12 * r_tip, 2.6 * CV_PI * r_tip / teeth);
    const cv::Point2d c(0.5 * (side - 1), 0.5 * (side - 1));
    const double metal = uniform_real(rng, 150, 210), ground = uniform_real(rng, 30, 90);
    cv::Mat big(side, side, CV_8U, cv::Scalar(ground));
    std::vector<cv::Point> outline;
    const int per_tooth = 16;
    for (int k = 0; k < teeth * per_tooth; ++k) {
        const double t = 2 * CV_PI * k / (teeth * per_tooth);
        const double phase = std::fmod(static_cast<double>(k) / per_tooth, 1.0);
        const double r = phase < 0.5 ? r_tip : r_tip - depth;  // tooth, then gap
        outline.emplace_back(cvRound(c.x + r * std::cos(t)), cvRound(c.y + r * std::sin(t)));
    }
    cv::fillPoly(big, std::vector<std::vector<cv::Point>>{outline}, cv::Scalar(metal), cv::LINE_AA);
    cv::circle(big, c, static_cast<int>(0.22 * r_tip), cv::Scalar(ground), cv::FILLED, cv::LINE_AA);
    const double mark = uniform_real(rng, 0, 2 * CV_PI);
    cv::circle(big, c + 0.55 * r_tip * cv::Point2d(std::cos(mark), std::sin(mark)),
               static_cast<int>(0.15 * r_tip), cv::Scalar(ground), cv::FILLED, cv::LINE_AA);
    return reduce_super(big);
}

// A row of `count` copies of one glyph (dark on light) with a short bar under the last one.
inline cv::Mat render_glyph_row_model(std::mt19937& rng, int count) {
    const int s = kTextureSuper;
    const std::string glyph(1, "ABEHKMNRSWXZ"[uniform_index(rng, 0, 11)]);
    const double scale = uniform_real(rng, 0.9, 1.1) * s;
    int base = 0;
    const cv::Size g = cv::getTextSize(glyph, cv::FONT_HERSHEY_SIMPLEX, scale, 2 * s, &base);
    const int pitch = g.width + 4 * s, margin = 6 * s;
    const double paper = uniform_real(rng, 190, 235), ink = uniform_real(rng, 20, 70);
    cv::Mat big(g.height + 2 * margin + 4 * s, count * pitch + 2 * margin, CV_8U,
                cv::Scalar(paper));
    for (int i = 0; i < count; ++i)
        cv::putText(big, glyph, {margin + i * pitch, margin + g.height}, cv::FONT_HERSHEY_SIMPLEX,
                    scale, cv::Scalar(ink), 2 * s, cv::LINE_AA);
    const int x = margin + (count - 1) * pitch;
    cv::rectangle(big, cv::Rect(x, margin + g.height + 2 * s, g.width, 2 * s), cv::Scalar(ink),
                  cv::FILLED, cv::LINE_AA);
    return reduce_super(big);
}

// A printed page: lines of random words (dark on light, letters about 8 pixels high) every `pitch`
// pixels. Its lines look alike a line apart on the coarse levels.
inline cv::Mat render_page_model(std::mt19937& rng, cv::Size size, int pitch) {
    const int s = kTextureSuper;
    const double paper = uniform_real(rng, 195, 240), ink = uniform_real(rng, 15, 60);
    cv::Mat big(size.height * s, size.width * s, CV_8U, cv::Scalar(paper));
    const double scale = 0.45 * s;
    for (int y = (pitch - 5) * s; y < big.rows - s; y += pitch * s) {
        int x = uniform_index(rng, -6, 2) * s;
        while (x < big.cols) {
            const std::string w = random_word(rng, 2, 9);
            cv::putText(big, w, {x, y}, cv::FONT_HERSHEY_DUPLEX, scale, cv::Scalar(ink), s,
                        cv::LINE_AA);
            int base = 0;
            x += cv::getTextSize(w, cv::FONT_HERSHEY_DUPLEX, scale, s, &base).width + 4 * s;
        }
    }
    return reduce_super(big);
}

}  // namespace compare

#endif  // QURO_TESTING_SYMMETRIC_MODELS_H
