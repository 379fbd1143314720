// The anisotropic search: finds one model under rotation and separate changes of size along its
// rows and its columns, coarse to fine over an image pyramid, on a private copy of the model's
// record.
#ifndef QURO_SEARCH_ANISO_SEARCH_H
#define QURO_SEARCH_ANISO_SEARCH_H

#include "quro/quro.h"
#include "quro/search/search_state.h"

namespace quro {

// The row and column scale ranges of an anisotropic search.
struct ScaleRanges {
    float row_min = 1.f;
    float row_max = 1.f;
    float col_min = 1.f;
    float col_max = 1.f;
};

// find_aniso_shape_model (and, with req.mask set, its masked twin) without the export wrapper.
// The stored model is never written: the angle and both scale ranges go into a member-wise copy.
int find_aniso_shape_model_impl(const SearchRequest& req, int model_id, const ScaleRanges& ranges,
                                Match*& results, int& count);

}  // namespace quro

#endif  // QURO_SEARCH_ANISO_SEARCH_H
