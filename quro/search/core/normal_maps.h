// The normal maps of a search's levels and their release in the background, so that a search
// returns without paying for freeing them.
#ifndef QURO_SEARCH_CORE_NORMAL_MAPS_H
#define QURO_SEARCH_CORE_NORMAL_MAPS_H

#include <opencv2/core.hpp>
#include <vector>

namespace quro {

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

#endif  // QURO_SEARCH_CORE_NORMAL_MAPS_H
