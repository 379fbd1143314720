#include "quro/search/core/search_export.h"

namespace quro {

SearchRequest make_request(unsigned char* data, int width, int height, float angle_start,
                           float angle_extent, float min_score, int num_matches, float max_overlap,
                           int subpixel_code, const int* levels, float greediness,
                           const unsigned char* mask) {
    SearchRequest req;
    req.data = data;
    req.width = width;
    req.height = height;
    req.angle_start = angle_start;
    req.angle_extent = angle_extent;
    req.min_score = min_score;
    req.num_matches = num_matches;
    req.max_overlap = max_overlap;
    req.subpixel_code = subpixel_code;
    copy_level_pair(levels, req);
    req.greediness = greediness;
    req.mask = mask;
    return req;
}

}  // namespace quro
