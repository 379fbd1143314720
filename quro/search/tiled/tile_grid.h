// The grid of overlapping tiles that the tiled searches cut a very large image into.
#ifndef QURO_SEARCH_TILED_TILE_GRID_H
#define QURO_SEARCH_TILED_TILE_GRID_H

#include <vector>

namespace quro {

// The caller's four tile parameters: column count, row count, tile width, tile height. A count of
// 0 or below is derived from the image size; the tile size counts only when both sides are above
// 0. A null pointer reads as all zero.
struct TileParams {
    int columns = 0;
    int rows = 0;
    int tile_width = 0;
    int tile_height = 0;
};

TileParams read_tile_params(const int* tile_params);

// The nominal tile side used when the caller gives no tile size.
inline constexpr int kDefaultTileSide = 640;

// One axis of the grid: tile k covers [start[k], end[k]) (ends exclusive).
struct TileAxis {
    std::vector<int> start;
    std::vector<int> end;
};

struct TileGrid {
    TileAxis columns;
    TileAxis rows;
    int overlap = 0;  // how far every start but the first is moved back, on both axes
};

// The overlap of neighbouring tiles for a model of `model_width` x `model_height` (full
// resolution): the model's diagonal, rounded up. An instance at any angle spans at most that much
// along either axis, so each one lies whole in at least one tile.
int tile_overlap(int model_width, int model_height);

// Splits [0, size) into `count` parts (clamped to 1..size) whose sizes differ by at most one
// pixel, the larger ones first, and moves every start back by `overlap`, then down to a multiple
// of `align` (a power of two, at least 1), not below 0.
TileAxis plan_tile_axis(int size, int count, int overlap, int align = 1);

// The grid for an image of width x height (both at least 1) and a model of the given size (both
// at least 1) with `model_levels` pyramid levels (1..10). Nominal tile: with both tile sides above
// 0, each side at least twice the model's; otherwise kDefaultTileSide square. A count of 0 or
// below becomes the image side over the nominal side, rounded half away from zero; every count is
// clamped to 1..(image side / model side): a tile narrower than the model holds no instance
// whole. Every start is a multiple of 2^(model_levels - 1), so that each tile's pyramid samples
// the image as the pyramid of the whole image does, whatever levels the search runs on.
TileGrid plan_tile_grid(int width, int height, const TileParams& params, int model_width,
                        int model_height, int model_levels = 1);

}  // namespace quro

#endif  // QURO_SEARCH_TILED_TILE_GRID_H
