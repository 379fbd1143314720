// Response maps of a level's orientation codes: for each of the 16 model directions, the
// similarity of that direction with the image direction at every pixel.
#ifndef QURO_MATCH_COARSE_RESPONSE_MAPS_H
#define QURO_MATCH_COARSE_RESPONSE_MAPS_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/cpu.h"
#include "quro/stopwatch.h"

namespace quro {

// Replaces `maps` by 16 new signed 8-bit images of the size of `codes` (8-bit, one channel):
// map k at pixel p holds the similarity of model direction k and image direction codes[p] - 1,
// or 0 where codes[p] is 0. Throws cv::Exception for codes of another type.
void computeResponseMaps16(const cv::Mat& codes, std::vector<cv::Mat>& maps);
// The same with the absolute similarity, for models whose points ignore contrast polarity.
void computeResponseMaps16Abs(const cv::Mat& codes, std::vector<cv::Mat>& maps);

// The builder with the kernel chosen by the caller (use_avx2(path)): the AVX2 kernels or the
// one-lane loops, which give the same bytes. For tests and benchmarks; everything else calls the
// functions above. The searches pass their time limit, asked before every band of up to
// kResponseCheckRows rows of maps: when it has passed the builder stops and returns false, and its
// output (partly written) must be discarded; true when the output is complete.
inline constexpr int kResponseCheckRows = 16;
bool response_maps_with(const cv::Mat& codes, std::vector<cv::Mat>& maps, bool absolute,
                        KernelPath path, const TimeLimit& limit = {});

}  // namespace quro

#endif  // QURO_MATCH_COARSE_RESPONSE_MAPS_H
