#include "quro/search/tiled/tile_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quro/numeric.h"

namespace quro {

namespace {

// The count of one axis: the caller's, or the side over the nominal tile side; 1..size / model
// side (a tile narrower than the model finds nothing whole).
int axis_count(int requested, int size, int nominal, int model_side) {
    const int count =
        requested > 0 ? requested
                      : round_half_away(static_cast<double>(size) / static_cast<double>(nominal));
    return std::clamp(count, 1, std::max(1, size / std::max(model_side, 1)));
}

// The larger of the tile side and twice the model side (in 64 bits, capped at INT_MAX).
int nominal_side(int tile_side, int model_side) {
    const long long side = std::max<long long>(tile_side, 2LL * model_side);
    return static_cast<int>(std::min<long long>(side, std::numeric_limits<int>::max()));
}

}  // namespace

TileParams read_tile_params(const int* tile_params) {
    if (tile_params == nullptr) return {};
    return {tile_params[0], tile_params[1], tile_params[2], tile_params[3]};
}

int tile_overlap(int model_width, int model_height) {
    const double diagonal =
        std::ceil(std::hypot(static_cast<double>(model_width), static_cast<double>(model_height)));
    return static_cast<int>(std::min<double>(diagonal, std::numeric_limits<int>::max()));
}

TileAxis plan_tile_axis(int size, int count, int overlap, int align) {
    count = std::clamp(count, 1, std::max(size, 1));
    const int base = size / count, wider = size % count;
    TileAxis axis;
    axis.start.reserve(static_cast<std::size_t>(count));
    axis.end.reserve(static_cast<std::size_t>(count));
    int end = 0;
    for (int k = 0; k < count; ++k) {
        const int start = std::max(0, end - overlap);
        axis.start.push_back(start - start % std::max(align, 1));
        end += base + (k < wider ? 1 : 0);
        axis.end.push_back(end);
    }
    return axis;
}

TileGrid plan_tile_grid(int width, int height, const TileParams& params, int model_width,
                        int model_height, int model_levels) {
    int nominal_w = kDefaultTileSide, nominal_h = kDefaultTileSide;
    if (params.tile_width > 0 && params.tile_height > 0) {
        nominal_w = nominal_side(params.tile_width, model_width);
        nominal_h = nominal_side(params.tile_height, model_height);
    }
    TileGrid grid;
    grid.overlap = tile_overlap(model_width, model_height);
    const int align = 1 << (std::clamp(model_levels, 1, 10) - 1);
    grid.columns = plan_tile_axis(width, axis_count(params.columns, width, nominal_w, model_width),
                                  grid.overlap, align);
    grid.rows = plan_tile_axis(height, axis_count(params.rows, height, nominal_h, model_height),
                               grid.overlap, align);
    return grid;
}

}  // namespace quro
