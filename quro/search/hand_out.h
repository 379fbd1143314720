// The end of a search that reached its last level: back to full resolution, the matches handed
// out as one registered array, and the normal maps released in the background.
#ifndef QURO_SEARCH_HAND_OUT_H
#define QURO_SEARCH_HAND_OUT_H

#include <vector>

#include <opencv2/core.hpp>

#include "quro/quro.h"

namespace quro {

// Moves candidates found on level `last` back to full resolution: positions and sub-pixel parts
// times 2^last. With `drop_below_min` set, candidates scoring below min_score are removed first.
void scale_back_to_full_resolution(std::vector<Match>& cands, int last, float min_score,
                                   bool drop_below_min);

// What the hand-out leaves of each match as the search set it: a search of one model and one
// scale stamps its model id and copies scale_row into scale_col; the multi-model search keeps the
// ids its candidates carry, the anisotropic search the column scale.
struct HandOutOptions {
    bool keep_model_ids = false;
    bool keep_scale_col = false;
};

// Hands the first min(num_matches, size) candidates (all when num_matches <= 0) out as one
// registered malloc'd array (kind 0), with scale_col = scale_row and model_id set unless the
// options keep them. Returns the handle, 0 with nothing to hand out, -1 when the array cannot be
// allocated (results then null). `count` receives the number of matches.
int hand_out_matches(const std::vector<Match>& cands, int num_matches, int model_id,
                     HandOutOptions options, Match*& results, int& count);

// Normal maps of all levels: the largest buffers of a search.
struct NormalMaps {
    std::vector<cv::Mat> nx;
    std::vector<cv::Mat> ny;
};

// Releases the maps on a detached thread so the export can return without paying for it. If no
// thread can be started they are released on the calling thread. Never throws.
void release_in_background(NormalMaps&& maps);

// Blocks until every background release has finished (also runs when the library unloads).
void wait_for_search_cleanup();

}  // namespace quro

#endif  // QURO_SEARCH_HAND_OUT_H
