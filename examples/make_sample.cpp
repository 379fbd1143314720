// Renders the sample images shipped in examples/data: a machined part (a chamfered plate with
// holes, a slot and engraved text) as a model image, and a cluttered scene with several rotated
// instances at sub-pixel positions. Everything is drawn at 8x and reduced with area averaging,
// then blurred slightly and given sensor noise, so edges are anti-aliased like a real camera's.
//
//   make_sample <output folder>
//
// Writes part_model.png, part_scene.png and part_scene_truth.txt (one line per instance:
// x y angle of the part's reference point, which is the centre of the model image).
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kSuper = 8;                // supersampling factor
constexpr int kPartW = 176, kPartH = 120;  // part bounding box in output pixels

// Draws the part at 8x into a patch of (kPartW + 2m) x (kPartH + 2m) output pixels: grey values
// in `part`, coverage in `alpha`. The part's centre is the patch centre.
void draw_part(cv::Mat& part, cv::Mat& alpha) {
    const int m = 8;
    const int W = (kPartW + 2 * m) * kSuper, H = (kPartH + 2 * m) * kSuper;
    part = cv::Mat(H, W, CV_8U, cv::Scalar(0));
    alpha = cv::Mat(H, W, CV_8U, cv::Scalar(0));
    const double s = kSuper;
    const double x0 = m * s, y0 = m * s, x1 = (m + kPartW) * s, y1 = (m + kPartH) * s;
    const double c = 14 * s;  // chamfer
    std::vector<cv::Point> plate = {
        {int(x0 + c), int(y0)}, {int(x1 - c), int(y0)}, {int(x1), int(y0 + c)},
        {int(x1), int(y1 - c)}, {int(x1 - c), int(y1)}, {int(x0 + 2 * c), int(y1)},
        {int(x0), int(y1 - 2 * c)}, {int(x0), int(y0 + c)}};
    cv::fillPoly(part, std::vector<std::vector<cv::Point>>{plate}, cv::Scalar(190), cv::LINE_8);
    cv::fillPoly(alpha, std::vector<std::vector<cv::Point>>{plate}, cv::Scalar(255), cv::LINE_8);
    // A raised pad with a bevel: a lighter inner rectangle.
    cv::rectangle(part, cv::Point(int(x0 + 22 * s), int(y0 + 18 * s)),
                  cv::Point(int(x0 + 92 * s), int(y0 + 58 * s)), cv::Scalar(225), cv::FILLED);
    // Two through holes (background shows through) and a blind hole (dark).
    for (auto [hx, hy, r] : {std::tuple{140.0, 30.0, 11.0}, std::tuple{140.0, 88.0, 7.5}}) {
        cv::circle(alpha, cv::Point(int(x0 + hx * s), int(y0 + hy * s)), int(r * s),
                   cv::Scalar(0), cv::FILLED);
    }
    cv::circle(part, cv::Point(int(x0 + 40 * s), int(y0 + 88 * s)), int(9 * s), cv::Scalar(95),
               cv::FILLED);
    // A slot.
    cv::rectangle(part, cv::Point(int(x0 + 70 * s), int(y0 + 78 * s)),
                  cv::Point(int(x0 + 112 * s), int(y0 + 96 * s)), cv::Scalar(110), cv::FILLED);
    // Engraved text on the pad.
    cv::putText(part, "Q-17", cv::Point(int(x0 + 30 * s), int(y0 + 50 * s)),
                cv::FONT_HERSHEY_SIMPLEX, 0.8 * s, cv::Scalar(120), int(2.2 * s), cv::LINE_8);
}

// Pastes the 8x part, rotated by `angle` degrees (counter-clockwise on screen) about its centre,
// with its centre at output position (cx, cy), into the 8x canvas.
void paste_part(cv::Mat& canvas, const cv::Mat& part, const cv::Mat& alpha, double cx, double cy,
                double angle) {
    const cv::Point2f centre((part.cols - 1) * 0.5f, (part.rows - 1) * 0.5f);
    cv::Mat rot = cv::getRotationMatrix2D(centre, angle, 1.0);
    // Output pixel (cx, cy) covers 8x pixels [8cx, 8cx + 8): its centre is 8cx + 3.5.
    rot.at<double>(0, 2) += cx * kSuper + (kSuper - 1) * 0.5 - centre.x;
    rot.at<double>(1, 2) += cy * kSuper + (kSuper - 1) * 0.5 - centre.y;
    cv::Mat wp, wa;
    cv::warpAffine(part, wp, rot, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    cv::warpAffine(alpha, wa, rot, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    for (int r = 0; r < canvas.rows; ++r) {
        uchar* d = canvas.ptr<uchar>(r);
        const uchar* p = wp.ptr<uchar>(r);
        const uchar* a = wa.ptr<uchar>(r);
        for (int c = 0; c < canvas.cols; ++c)
            if (a[c]) d[c] = cv::saturate_cast<uchar>((p[c] * a[c] + d[c] * (255 - a[c])) / 255);
    }
}

// A cluttered 8x background: brightness gradient, random bars, rings and blobs.
cv::Mat clutter(int w, int h, cv::RNG& rng, int amount) {
    cv::Mat bg(h * kSuper, w * kSuper, CV_8U);
    for (int r = 0; r < bg.rows; ++r)
        bg.row(r).setTo(cv::Scalar(55 + 30.0 * r / bg.rows));
    for (int i = 0; i < amount; ++i) {
        const cv::Point a(rng.uniform(0, bg.cols), rng.uniform(0, bg.rows));
        const int g = rng.uniform(20, 140);
        switch (i % 3) {
            case 0:
                cv::line(bg, a, a + cv::Point(rng.uniform(-600, 600), rng.uniform(-600, 600)),
                         cv::Scalar(g), rng.uniform(8, 40));
                break;
            case 1:
                cv::circle(bg, a, rng.uniform(40, 260), cv::Scalar(g), rng.uniform(8, 30));
                break;
            default:
                cv::ellipse(bg, a, cv::Size(rng.uniform(40, 300), rng.uniform(30, 200)),
                            rng.uniform(0, 180), 0, 360, cv::Scalar(g), cv::FILLED);
        }
    }
    return bg;
}

cv::Mat finish(const cv::Mat& canvas8x, cv::RNG& rng, double noise_sigma) {
    cv::Mat out;
    cv::resize(canvas8x, out, cv::Size(canvas8x.cols / kSuper, canvas8x.rows / kSuper), 0, 0,
               cv::INTER_AREA);
    cv::GaussianBlur(out, out, cv::Size(0, 0), 0.6);
    cv::Mat noise(out.size(), CV_16S);
    rng.fill(noise, cv::RNG::NORMAL, 0, noise_sigma);
    cv::Mat o16;
    out.convertTo(o16, CV_16S);
    o16 += noise;
    o16.convertTo(out, CV_8U);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "examples/data";
    cv::RNG rng(20261209);
    cv::Mat part, alpha;
    draw_part(part, alpha);

    // Model image: the part upright, centred, on a plain background.
    const int mw = 224, mh = 168;
    cv::Mat model8x(mh * kSuper, mw * kSuper, CV_8U, cv::Scalar(70));
    paste_part(model8x, part, alpha, (mw - 1) * 0.5, (mh - 1) * 0.5, 0.0);
    cv::Mat model = finish(model8x, rng, 2.0);

    // Scene: clutter and five instances at sub-pixel positions and assorted angles.
    const int sw = 640, sh = 480;
    cv::Mat scene8x = clutter(sw, sh, rng, 60);
    struct Pose { double x, y, angle; };
    const Pose poses[] = {{130.3, 115.6, 12.0},
                          {470.8, 110.2, 104.5},
                          {320.45, 250.7, -33.0},
                          {140.6, 370.25, 181.0},
                          {505.2, 365.9, -118.7}};
    for (const Pose& p : poses) paste_part(scene8x, part, alpha, p.x, p.y, p.angle);
    cv::Mat scene = finish(scene8x, rng, 3.0);

    const std::string model_path = dir + "/part_model.png";
    const std::string scene_path = dir + "/part_scene.png";
    const std::string truth_path = dir + "/part_scene_truth.txt";
    if (!cv::imwrite(model_path, model) || !cv::imwrite(scene_path, scene)) {
        std::fprintf(stderr, "make_sample: cannot write into %s\n", dir.c_str());
        return 1;
    }
    FILE* f = std::fopen(truth_path.c_str(), "w");
    if (!f) return 1;
    std::fprintf(f, "# x y angle (degrees, counter-clockwise) of each instance's reference point\n");
    for (const Pose& p : poses) std::fprintf(f, "%.3f %.3f %.3f\n", p.x, p.y, p.angle);
    std::fclose(f);
    std::printf("wrote %s, %s, %s\n", model_path.c_str(), scene_path.c_str(), truth_path.c_str());
    return 0;
}
