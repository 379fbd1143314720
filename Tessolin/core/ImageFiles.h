// Image and mask files of the workbench: reading an image as 8-bit grey, the names under which a
// model image's mask is looked for, and the checks before a part of the image is saved. No Qt.
#ifndef TESSOLIN_IMAGE_FILES_H
#define TESSOLIN_IMAGE_FILES_H

#include <array>
#include <opencv2/core.hpp>
#include <string>

namespace tessolin {

// Position of the extension's dot in path, looked for in the file name only (after the last
// '/' or '\\'); std::string::npos when the file name has none.
size_t ExtensionDot(const std::string& path);

// The two mask names of a model image, in the order they are tried: "_mask" before the
// extension (appended when there is none), then the base name with "_mask.png".
std::array<std::string, 2> MaskCandidates(const std::string& image_path);

// path with extension (".bmp", say) appended when its file name has none.
std::string WithDefaultExtension(const std::string& path, const std::string& extension);

// An image of 1, 3 (BGR) or 4 (BGRA) 8-bit channels as one 8-bit grey channel. False, with grey
// untouched, for an empty image, another depth or another channel count.
bool ToGrey(const cv::Mat& image, cv::Mat& grey);

// Reads path (bytes passed to OpenCV as they are) as 8-bit grey. False, with grey untouched, when
// the file cannot be read or ToGrey refuses it; *channels is then the channel count read (0 for
// an unreadable file).
bool ReadGreyImage(const std::string& path, cv::Mat& grey, int* channels);

// The mask of a model image of the given size: the first candidate name that can be read, as
// 8-bit grey; empty when neither can be read, or when the one read cannot be made grey or has
// another size.
cv::Mat ReadMask(const std::string& image_path, cv::Size size);

// The rectangle between two corners when both lie inside an image of the given size and it has
// an area, else an empty rectangle.
cv::Rect InsideRoi(cv::Point a, cv::Point b, cv::Size size);

}  // namespace tessolin

#endif  // TESSOLIN_IMAGE_FILES_H
