// The merge of the tiled searches: the matches of all tiles in one list, best first, without the
// duplicates that neighbouring tiles find in their overlap.
#ifndef QURO_SEARCH_TILED_TILE_MERGE_H
#define QURO_SEARCH_TILED_TILE_MERGE_H

#include <cstddef>
#include <vector>

#include "quro/quro.h"

namespace quro {

// The duplicate distance of a tiled search: the caller's value, at least 0.5 (NaN reads as 0.5).
float duplicate_distance(float requested);

// Sorts by descending score (stable: ties keep their order in the list), then drops every match
// that lies within `distance` of an earlier match that was kept, in both coordinates: |(x + dx)
// - (x' + dx')| <= distance and the same for y. Model ids and angles are not compared.
void merge_tile_matches(std::vector<Match>& matches, float distance);

// The two ways of dropping duplicates from a sorted list; both keep exactly the same matches.
// The pairwise scan compares each match with every kept one; the bucketed scan files kept matches
// in a grid of cells a little wider than `distance` and compares each match with the kept ones
// of its cell and the eight around it. merge_tile_matches uses the scan for short lists.
void drop_duplicates_pairwise(std::vector<Match>& sorted, float distance);
void drop_duplicates_bucketed(std::vector<Match>& sorted, float distance);
inline constexpr std::size_t kBucketedDuplicatesFrom = 64;

}  // namespace quro

#endif  // QURO_SEARCH_TILED_TILE_MERGE_H
