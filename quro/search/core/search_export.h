// What every search export does around its search: the request built from the export's
// arguments, and the wrapper that keeps exceptions inside the library and the count at 0 on
// failure.
#ifndef QURO_SEARCH_CORE_SEARCH_EXPORT_H
#define QURO_SEARCH_CORE_SEARCH_EXPORT_H

#include "quro/export_guard.h"
#include "quro/search/core/search_request.h"
#include "quro/status.h"

namespace quro {

// The request of a single-model search export (every search export shares this argument order;
// `mask` is null for the plain exports).
SearchRequest make_request(unsigned char* data, int width, int height, float angle_start,
                           float angle_extent, float min_score, int num_matches, float max_overlap,
                           int subpixel_code, const int* levels, float greediness,
                           const unsigned char* mask);

// Runs `search` (an export's *_impl, returning a handle, 0, -1 or -2) with count set to 0 first:
// any exception becomes -1, and every negative return leaves count at 0.
template <class Search>
int run_search_export(int& count, Search&& search) noexcept {
    count = 0;
    return guarded(kFailed, [&] {
        const int rc = search();
        if (rc < 0) count = 0;
        return rc;
    });
}

}  // namespace quro

#endif  // QURO_SEARCH_CORE_SEARCH_EXPORT_H
