// What a search takes from its caller: the checks of the arguments every search shares, the
// image and mask pyramids, and the minimum contrast it works with.
#ifndef QURO_SEARCH_CORE_SEARCH_INPUT_H
#define QURO_SEARCH_CORE_SEARCH_INPUT_H

#include <vector>

#include <opencv2/core.hpp>

#include "quro/stopwatch.h"

namespace quro {


// Widest rotation range a search accepts, in degrees: ten full turns. Anything wider is no
// sensible range (and a huge one would only fail later, when its angles are listed).
inline constexpr float kMaxAngleExtent = 3600.f;

// Checks the arguments every search shares, before anything else happens (a rejected call must
// not change the stored model). Returns 0 or -1.
//   data null, width or height < 1, min_score or max_overlap negative or not a number,
//   angle_start not finite, angle_extent below -1e-6, above kMaxAngleExtent or not finite -> -1.
int check_search_args(const unsigned char* data, int width, int height, float angle_start,
                      float angle_extent, float min_score, float max_overlap);

// Checks the scale range of a scaled search, before anything is written: both bounds finite,
// scale_min above 0 and at most scale_max + 1e-6 (rounding noise). Returns 0 or -1.
int check_scale_range(float scale_min, float scale_max);

// The image pyramid: level 0 is a header on the caller's bytes, level k the cv::pyrDown of k-1.
// The limit is asked before each level is built; once it has passed, the remaining levels stay
// empty (the caller gives up the search).
std::vector<cv::Mat> build_search_pyramid(const unsigned char* data, int width, int height,
                                          int levels_used, const TimeLimit& limit = {});

// The mask pyramid of the masked searches: entry 0 the mask, entry 1 its cv::pyrDown, entries 2
// and above empty (only the two finest levels are masked). An empty vector for a null mask and for
// a mask without any 0 (it would change nothing).
std::vector<cv::Mat> build_mask_pyramid(const unsigned char* mask, int width, int height,
                                        int levels_used);

// The minimum contrast a search uses: the model's value, or 1 when it is below 2.
int search_min_contrast(int model_min_contrast);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_SEARCH_INPUT_H
