// The models of a multi-model search as its clustering and final selection receive them: the
// records in the order of the caller's ids, and a map from model id to a position in that list.
#ifndef QURO_MATCH_SELECT_MULTI_MODEL_INDEX_H
#define QURO_MATCH_SELECT_MULTI_MODEL_INDEX_H

#include <cassert>
#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"

namespace quro {

using ModelRecords = std::vector<std::shared_ptr<ShapeModelRecord>>;
using ModelIdIndex = std::unordered_map<int, int>;

// Position in `records` of the model of candidate m, or -1 when its id is not in the map or maps
// outside the list or to a null record. The searches stamp only ids they hold, so -1 is a caller
// fault: it asserts in debug builds, and release builds leave the candidate out.
inline int candidate_model_index(const Match& m, const ModelRecords& records,
                                 const ModelIdIndex& id_to_index) {
    const auto it = id_to_index.find(m.model_id);
    const bool valid = it != id_to_index.end() && it->second >= 0 &&
                       static_cast<std::size_t>(it->second) < records.size() &&
                       records[static_cast<std::size_t>(it->second)] != nullptr;
    assert(valid && "candidate of a model the search does not hold");
    return valid ? it->second : -1;
}

}  // namespace quro

#endif  // QURO_MATCH_SELECT_MULTI_MODEL_INDEX_H
