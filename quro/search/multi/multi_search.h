// The multi-model search: several stored models found in one image in one pass. The models share
// the image pyramid, the response maps and normal maps of each level, the time limit and the stop
// flag; their candidates travel together through the lower levels, and the final selection treats
// them as one set, so a match of one model suppresses an overlapping, weaker match of another.
#ifndef QURO_SEARCH_MULTI_MULTI_SEARCH_H
#define QURO_SEARCH_MULTI_MULTI_SEARCH_H

#include "quro/quro.h"
#include "quro/search/core/search_request.h"

namespace quro {

// find_shape_models (and, with req.mask set, its masked twin) without the export wrapper. `ids`
// holds num_ids model ids, `levels` two ints per id. Every id is looked up and every model's plan
// checked before any stored model changes; then each gets the request's angle range (unless
// `range` is kLeave).
int find_shape_models_impl(const SearchRequest& req, const int* ids, int num_ids, const int* levels,
                           Match*& results, int& count, StoredRange range = StoredRange::kWrite);

}  // namespace quro

#endif  // QURO_SEARCH_MULTI_MULTI_SEARCH_H
