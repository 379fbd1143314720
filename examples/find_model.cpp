// Creates a shape model from a model image and finds it in one or more images.
//
//   find_model [options] [model.png [image.png ...]]
//
// Options:
//   --roi x,y,w,h     use only this rectangle of the model image for the model
//   --min-score s     lowest score of a match (default 0.7)
//   --contrast lo,hi  edge contrast thresholds of the model (default 10,30)
//   --out dir         where the annotated images go (default: the current directory)
//
// With no image arguments it runs on the sample shipped in examples/data. For each image it prints
// one line per match (position x + dx, y + dy of the model image's centre, angle in degrees,
// score) and the time taken, and writes <name>_found.png with the model outline drawn at every
// match. When <name>_truth.txt exists beside an image (lines "x y angle"), each true instance is
// checked against the matches.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "quro/quro.h"

#ifndef QURO_SAMPLE_DIR
#define QURO_SAMPLE_DIR "examples/data"
#endif

namespace {

struct Options {
    cv::Rect roi;
    float min_score = 0.7f;
    int contrast_low = 10;
    int contrast_high = 30;
    std::string out_dir = ".";
    std::string model_path;
    std::vector<std::string> images;
};

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--roi" && has_value) {
            if (std::sscanf(argv[++i], "%d,%d,%d,%d", &o.roi.x, &o.roi.y, &o.roi.width,
                            &o.roi.height) != 4)
                return false;
        } else if (a == "--min-score" && has_value) {
            o.min_score = std::strtof(argv[++i], nullptr);
        } else if (a == "--contrast" && has_value) {
            if (std::sscanf(argv[++i], "%d,%d", &o.contrast_low, &o.contrast_high) != 2)
                return false;
        } else if (a == "--out" && has_value) {
            o.out_dir = argv[++i];
        } else if (!a.empty() && a[0] == '-') {
            return false;
        } else if (o.model_path.empty()) {
            o.model_path = a;
        } else {
            o.images.push_back(a);
        }
    }
    if (o.model_path.empty()) {
        o.model_path = std::string(QURO_SAMPLE_DIR) + "/part_model.png";
        o.images = {std::string(QURO_SAMPLE_DIR) + "/part_scene.png"};
    }
    return !o.images.empty();
}

std::string stem(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string without_extension(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

// Draws the model outline posed by each match, its reference point and its score.
void draw_matches(cv::Mat& canvas, int model_id, const quro::Match* m, int count) {
    for (int i = 0; i < count; ++i) {
        const float cx = m[i].x + m[i].dx, cy = m[i].y + m[i].dy;
        quro::TemplateF* outline = nullptr;
        const int h = get_model_contour2(model_id, m[i].angle, m[i].scale_row, &outline);
        if (h >= 0 && outline != nullptr && outline->points != nullptr) {
            for (int k = 0; k < outline->count; ++k) {
                const cv::Point2f p(cx + outline->points[k].x, cy + outline->points[k].y);
                cv::circle(canvas, cv::Point(cvRound(p.x * 4), cvRound(p.y * 4)), 4,
                           cv::Scalar(0, 220, 0), cv::FILLED, cv::LINE_AA, 2);
            }
        }
        if (h > 0) clear_mems(h);
        cv::drawMarker(canvas, cv::Point(cvRound(cx), cvRound(cy)), cv::Scalar(0, 0, 255),
                       cv::MARKER_CROSS, 12, 2);
        char label[64];
        std::snprintf(label, sizeof label, "%.2f", m[i].score);
        cv::putText(canvas, label, cv::Point(cvRound(cx) + 6, cvRound(cy) - 6),
                    cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(0, 200, 255), 1, cv::LINE_AA);
    }
}

// Checks the matches against "<image>_truth.txt"; returns false when an instance was missed.
bool check_truth(const std::string& image_path, const quro::Match* m, int count) {
    std::ifstream in(without_extension(image_path) + "_truth.txt");
    if (!in) return true;
    std::string line;
    int total = 0, found = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        double x, y, a;
        if (!(ls >> x >> y >> a)) continue;
        ++total;
        double best = 1e9, best_angle = 0;
        for (int i = 0; i < count; ++i) {
            const double d = std::hypot(m[i].x + m[i].dx - x, m[i].y + m[i].dy - y);
            if (d < best) {
                best = d;
                best_angle = std::remainder(m[i].angle - a, 360.0);
            }
        }
        const bool ok = best < 2.0 && std::fabs(best_angle) < 2.0;
        found += ok ? 1 : 0;
        std::printf("  truth %8.3f %8.3f %8.3f: %s (position error %.3f px, angle error %.3f deg)\n",
                    x, y, a, ok ? "found" : "MISSED", best, best_angle);
    }
    std::printf("  %d of %d true instances found\n", found, total);
    return found == total;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: find_model [--roi x,y,w,h] [--min-score s] [--contrast lo,hi] "
                     "[--out dir] [model.png [image.png ...]]\n");
        return 2;
    }
    cv::Mat model = cv::imread(o.model_path, cv::IMREAD_GRAYSCALE);
    if (model.empty()) {
        std::fprintf(stderr, "find_model: cannot read %s\n", o.model_path.c_str());
        return 1;
    }
    if (o.roi.area() > 0) model = model(o.roi & cv::Rect(0, 0, model.cols, model.rows)).clone();

    const ContrastParams contrast{o.contrast_low, o.contrast_high, 10, 10};
    int id = -1;
    auto t0 = std::chrono::steady_clock::now();
    const int rc = create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1,
                                      &contrast, nullptr, &id);
    const double create_ms = ms_since(t0);
    if (rc != 0) {
        std::fprintf(stderr, "find_model: create_shape_model failed, err = %d\n", rc);
        return 1;
    }
    int levels = 0;
    get_shape_model_param(id, "num_levels", &levels);
    std::printf("model %s: %dx%d, %d pyramid levels, created in %.2f ms\n", o.model_path.c_str(),
                model.cols, model.rows, levels, create_ms);

    bool all_found = true;
    for (const std::string& path : o.images) {
        cv::Mat img = cv::imread(path, cv::IMREAD_GRAYSCALE);
        if (img.empty()) {
            std::fprintf(stderr, "find_model: cannot read %s\n", path.c_str());
            all_found = false;
            continue;
        }
        int pair[2] = {0, 0};
        quro::Match* matches = nullptr;
        int count = 0;
        t0 = std::chrono::steady_clock::now();
        const int h = find_shape_model(img.data, img.cols, img.rows, id, 0.f, 360.f, o.min_score,
                                       0, 0.5f, 2, pair, 0.8f, matches, count);
        const double find_ms = ms_since(t0);
        if (h < 0) {
            std::fprintf(stderr, "find_model: find_shape_model failed on %s, err = %d\n",
                         path.c_str(), h);
            all_found = false;
            continue;
        }
        std::printf("%s: %dx%d, %d matches in %.2f ms\n", path.c_str(), img.cols, img.rows, count,
                    find_ms);
        for (int i = 0; i < count; ++i)
            std::printf("  x %9.3f  y %9.3f  angle %8.3f  score %.3f\n",
                        matches[i].x + matches[i].dx, matches[i].y + matches[i].dy,
                        matches[i].angle, matches[i].score);
        all_found = check_truth(path, matches, count) && all_found;

        cv::Mat canvas;
        cv::cvtColor(img, canvas, cv::COLOR_GRAY2BGR);
        draw_matches(canvas, id, matches, count);
        const std::string out = o.out_dir + "/" + stem(path) + "_found.png";
        if (cv::imwrite(out, canvas)) std::printf("  wrote %s\n", out.c_str());
        if (h > 0) clear_mems(h);
    }
    clear_shape_model(id);
    return all_found ? 0 : 1;
}
