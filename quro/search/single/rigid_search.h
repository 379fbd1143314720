// The rigid search: finds one model under rotation, coarse to fine over an image pyramid.
#ifndef QURO_SEARCH_SINGLE_RIGID_SEARCH_H
#define QURO_SEARCH_SINGLE_RIGID_SEARCH_H

#include "quro/quro.h"
#include "quro/search/core/search_request.h"

namespace quro {

// find_shape_model (and, with req.mask set, its masked twin) without the export wrapper. Writes
// the request's angle range into the stored model once the arguments are accepted, unless
// `range` is kLeave.
int find_shape_model_impl(const SearchRequest& req, int model_id, Match*& results, int& count,
                          StoredRange range = StoredRange::kWrite);

}  // namespace quro

#endif  // QURO_SEARCH_SINGLE_RIGID_SEARCH_H
