// The end of a search that reached its last level: the full-resolution least squares where the
// mode asks for it, the scale-back, the release of the normal maps and the hand-out.
#ifndef QURO_SEARCH_CORE_SEARCH_FINISH_H
#define QURO_SEARCH_CORE_SEARCH_FINISH_H

#include <vector>

#include "quro/match/subpixel/least_squares_refine.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/search_state.h"

namespace quro {

// Stages at the end of a search that reached its last level: back to full resolution, hand-out
// of at most num_matches as a registered array, and release of the normal maps in the
// background. Returns the handle, 0 or -1, or -2 (nothing registered) when the time-out passes
// during the full-resolution least squares. With the full-resolution least-squares mode the
// matches are refined on the way down, on the last level searched and on every level below it:
// from a coarse level alone the angle error can exceed what one step of the full-resolution
// refinement may correct, and its position error the reach of its edge search. `src` poses the
// model points of that refinement.
int finish_search(const SearchRequest& req, const ShapeModelRecord& rec, int model_id,
                  SearchState& st, std::vector<Match>& cands, Match*& results, int& count,
                  const PoseSource& src = PoseSource::rigid(), HandOutOptions out = {});

}  // namespace quro

#endif  // QURO_SEARCH_CORE_SEARCH_FINISH_H
