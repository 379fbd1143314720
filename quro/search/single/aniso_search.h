// The anisotropic search: finds one model under rotation and separate changes of size along its
// rows and its columns, coarse to fine over an image pyramid, on a private copy of the model's
// record.
#ifndef QURO_SEARCH_SINGLE_ANISO_SEARCH_H
#define QURO_SEARCH_SINGLE_ANISO_SEARCH_H

#include <vector>

#include "quro/quro.h"
#include "quro/search/core/search_state.h"
#include "quro/search/core/search_variant.h"

namespace quro {

// The row and column scale ranges of an anisotropic search.
struct ScaleRanges {
    float row_min = 1.f;
    float row_max = 1.f;
    float col_min = 1.f;
    float col_max = 1.f;
};

// The row and column scale steps of every level index (0 = full resolution).
struct LevelScaleSteps {
    std::vector<float> row;
    std::vector<float> col;
};

LevelScaleSteps level_scale_steps(const ShapeModelRecord& rec);

// The anisotropic search's differences from the rigid one: the top level scans row scales times
// column scales times angles (`rows` times `cols`); each lower level tries the nine neighbouring
// pairs of row and column scales on every second model point, then walks position and angle on
// every point; clustering keeps candidates of different scale pairs apart. With `try_range_ends`
// the trials of the last level beyond a range end try the end itself. The variant refers to
// `steps`, which must outlive it.
SearchVariant aniso_variant(const LevelScaleSteps& steps, std::vector<float> rows,
                            std::vector<float> cols, bool try_range_ends);

// The prologue of a search with row and column scale ranges: checks the request and the ranges,
// copies the model into `rec` with the call's angle and scale ranges, prepares `st` and lists the
// top level's row and column scales. Returns 0, -1 (bad argument, unknown id, a model without
// levels, ranges whose top-level poses would exceed the list limit) or -2 (time-out).
int prepare_aniso_search(const SearchRequest& req, int model_id, const ScaleRanges& ranges,
                         ShapeModelRecord& rec, SearchState& st, std::vector<float>& rows,
                         std::vector<float>& cols);

// find_aniso_shape_model (and, with req.mask set, its masked twin) without the export wrapper.
// The stored model is never written: the angle and both scale ranges go into a member-wise copy.
int find_aniso_shape_model_impl(const SearchRequest& req, int model_id, const ScaleRanges& ranges,
                                Match*& results, int& count);

}  // namespace quro

#endif  // QURO_SEARCH_SINGLE_ANISO_SEARCH_H
