// The tiled searches of very large images: the image cut into a grid of overlapping tiles, each
// tile copied out and searched by the rigid or the multi-model search, the matches moved into
// image coordinates and merged into one list.
#ifndef QURO_SEARCH_TILED_TILED_SEARCH_H
#define QURO_SEARCH_TILED_TILED_SEARCH_H

#include <functional>

#include "quro/quro.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/search_request.h"
#include "quro/search/tiled/tile_grid.h"

namespace quro {

// The search of one tile: the request holds the tile's contiguous copy, its size and num_matches
// 0. Returns what a search export returns (a handle, 0, -1, -2).
using TileSearch =
    std::function<int(const SearchRequest& tile, StoredRange range, Match*& results, int& count)>;

// How the tiles are searched, beside the caller's request for the whole image.
struct TiledRun {
    TileGrid grid;
    float distance = 0.5f;  // duplicate distance, already raised to 0.5
    int model_id = 0;       // stamped on every match unless `out` keeps the ids
    HandOutOptions out;
    // Asked before each tile but the first: true ends the call with -1 (the whole call's time-out;
    // the tile searches keep their own). Null: never. May be called on several threads at once.
    std::function<bool()> out_of_time;
    int workers = 0;  // tile threads at once; below 1: tile_search_workers()
};

// Searches every tile of the grid and hands out the merged matches (at most req.num_matches when
// that is above 0). The first tile is searched alone and stores the angle range; the others run
// on up to run.workers threads and leave the models alone. Each tile's copy lives only
// while it is searched and its result block is released before its thread takes another tile.
// The result does not depend on the number of threads: the tiles' matches are merged in grid
// order (rows top to bottom, columns left to right) and sorted stably. Returns the handle, 0 when
// nothing is left, or -1 when a tile search failed (a time-out included), when run.out_of_time
// says so before a tile, when the merged block cannot be allocated, or on an exception; nothing
// stays registered then.
int run_tiled_search(const SearchRequest& req, const TiledRun& run, const TileSearch& search,
                     Match*& results, int& count);

// Threads that search tiles at once unless a run says otherwise: a quarter of the hardware
// threads, between 2 and 4 (1 on a machine of one hardware thread); each tile search runs its
// own parallel loops as well.
int tile_search_workers();

// find_shape_model_xl without its frame (image test, "print_time" off, no exception out), the
// tiles searched on `workers` threads at once (below 1: tile_search_workers()).
int find_shape_model_xl_impl(const SearchRequest& req, const int* tile_params, int model_id,
                             float distance, Match*& results, int& count, int workers = 0);

}  // namespace quro

#endif  // QURO_SEARCH_TILED_TILED_SEARCH_H
