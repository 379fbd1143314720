// The scaled search: finds one model under rotation and one uniform change of size, coarse to fine
// over an image pyramid, on a private copy of the model's record.
#ifndef QURO_SEARCH_SINGLE_SCALED_SEARCH_H
#define QURO_SEARCH_SINGLE_SCALED_SEARCH_H

#include "quro/quro.h"
#include "quro/search/core/search_request.h"

namespace quro {

// find_scaled_shape_model (and, with req.mask set, its masked twin) without the export wrapper.
// The stored model is never written: the angle and scale ranges go into a member-wise copy.
int find_scaled_shape_model_impl(const SearchRequest& req, int model_id, float scale_min,
                                 float scale_max, Match*& results, int& count);

}  // namespace quro

#endif  // QURO_SEARCH_SINGLE_SCALED_SEARCH_H
