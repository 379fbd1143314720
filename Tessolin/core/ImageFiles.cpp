#include "core/ImageFiles.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace tessolin {

size_t ExtensionDot(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string::npos;
    return dot;
}

std::array<std::string, 2> MaskCandidates(const std::string& image_path) {
    const std::string base = image_path.substr(0, ExtensionDot(image_path));
    const std::string extension =
        ExtensionDot(image_path) == std::string::npos ? "" : image_path.substr(base.size());
    return {base + "_mask" + extension, base + "_mask.png"};
}

std::string WithDefaultExtension(const std::string& path, const std::string& extension) {
    return ExtensionDot(path) == std::string::npos ? path + extension : path;
}

bool ToGrey(const cv::Mat& image, cv::Mat& grey) {
    if (image.empty() || image.depth() != CV_8U) return false;
    switch (image.channels()) {
        case 1:
            grey = image.clone();
            return true;
        case 3:
            cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
            return true;
        case 4:
            cv::cvtColor(image, grey, cv::COLOR_BGRA2GRAY);
            return true;
        default:
            return false;
    }
}

namespace {

// cv::imread unchanged; an empty image when OpenCV throws on a damaged file.
cv::Mat ReadUnchanged(const std::string& path) {
    try {
        return cv::imread(path, cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

}  // namespace

bool ReadGreyImage(const std::string& path, cv::Mat& grey, int* channels) {
    const cv::Mat image = ReadUnchanged(path);
    if (channels) *channels = image.empty() ? 0 : image.channels();
    return ToGrey(image, grey);
}

cv::Mat ReadMask(const std::string& image_path, cv::Size size) {
    for (const std::string& name : MaskCandidates(image_path)) {
        const cv::Mat read = ReadUnchanged(name);
        if (read.empty()) continue;
        cv::Mat grey;
        if (!ToGrey(read, grey) || grey.size() != size) return cv::Mat();
        return grey;
    }
    return cv::Mat();
}

cv::Rect InsideRoi(cv::Point a, cv::Point b, cv::Size size) {
    const auto inside = [&](cv::Point p) {
        return p.x >= 0 && p.x < size.width && p.y >= 0 && p.y < size.height;
    };
    if (!inside(a) || !inside(b)) return {};
    return cv::Rect(a, b);
}

}  // namespace tessolin
