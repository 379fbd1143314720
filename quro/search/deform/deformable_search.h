// The locally deformable search: the anisotropic search on the upper levels of the pyramid, then,
// on the lower ones, a refinement that lets every model point move inside a small window and spreads
// the moves into a dense deformation field per match.
#ifndef QURO_SEARCH_DEFORM_DEFORMABLE_SEARCH_H
#define QURO_SEARCH_DEFORM_DEFORMABLE_SEARCH_H

#include <vector>

#include "quro/match/deform/deformable_refine.h"
#include "quro/quro.h"
#include "quro/search/core/search_request.h"
#include "quro/search/single/aniso_search.h"

namespace quro {

// The first deformable level of a search running levels top .. last (0-based): the levels are
// counted from 1 at the last one, H = top - last + 1 of them, and the rigid levels run down to
// P = H - (H - 1) / 2; the deformable ones are P - 1 .. 1 in that count. Returns the 0-based level
// of P (the level whose candidates are selected before the deformable levels); equal to `last`
// when a single level is searched (no deformable level).
int deformable_boundary(int top, int last);

// Hands out one VectorField per candidate of the first `count` of `cands`, in their order, each
// candidate's field taken from work[cand.model_id] (a candidate without a field, or with an index
// outside `work`, gets an empty element: size 0, null maps). Registers the array (kind 9) and
// returns its handle, with `fields` pointing at it; 0 for count 0 (fields null); -1 when memory
// fails (fields null, nothing registered). Never throws.
int hand_out_fields(const std::vector<Match>& cands, int count,
                    const std::vector<DeformField>& work, VectorField*& fields) noexcept;

// find_local_deformable_model without the export wrapper. fields and fields_handle are null and 0
// on entry; both are set only when matches are handed out.
int find_local_deformable_model_impl(const SearchRequest& req, int model_id,
                                     const ScaleRanges& ranges, Match*& results, int& count,
                                     VectorField*& fields, int& fields_handle);

}  // namespace quro

#endif  // QURO_SEARCH_DEFORM_DEFORMABLE_SEARCH_H
