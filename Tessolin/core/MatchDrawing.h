// What the image and model views draw for one match or one model outline. The handlers fill
// these records; the redraw timer paints them.
#ifndef TESSOLIN_MATCH_DRAWING_H
#define TESSOLIN_MATCH_DRAWING_H

#include <array>
#include <vector>

namespace tessolin {

struct MatchDrawing {
    unsigned char flag = 1;
    std::vector<std::array<float, 4>> points;  // x, y, gx, gy in image pixels
    std::vector<int> point_flags;              // parallel to points: 1 where the point scored low
    std::vector<std::array<float, 2>> crosses;  // cross centres
    std::vector<std::array<float, 3>> labels;   // x, y, score
    std::vector<std::array<float, 2>> extra;    // not filled by the create and find commands
};

}  // namespace tessolin

#endif  // TESSOLIN_MATCH_DRAWING_H
