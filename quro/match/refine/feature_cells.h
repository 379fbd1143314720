// Spatial indexes over the model points of one pyramid level: a square grid of cells laid over the
// model (the cell-partitioned refinements score each cell's points apart), and the k nearest
// neighbours of every sampled point (the deformable search relates neighbouring displacements).
// Levels count from 1 (full resolution) to the record's num_levels.
#ifndef QURO_MATCH_REFINE_FEATURE_CELLS_H
#define QURO_MATCH_REFINE_FEATURE_CELLS_H

#include <vector>

#include "quro/model_table.h"

namespace quro {

// The grid that feature_neighbours used.
struct FeatureGrid {
    int step;           // sampling step of the points
    int grid_size;      // P, as passed
    int count;          // sampled point count
    int one;            // always 1
    float half_extent;  // o: largest |coordinate| of all the level's points, plus 1
    float cell_size;    // 2o / P
};

// Half extent o of a level: the largest of |max x|, |min x|, |max y|, |min y| over ALL points of
// the level (not only sampled ones), plus 1. A level without points gives 1.
float feature_half_extent(const ShapeModelRecord& rec, int level);

// The cell of every point that the level's normal templates take (indices 0, d, 2d, ... with
// d = 2^(num_levels - level), so entry i belongs to template point i), in a P x P grid over the
// square -o .. +o: cell = P * row + column with row = (int)((o + y) / (2o / P)) and
// column = (int)((o + x) / (2o / P)), both in 0..P-1 (a coordinate that is not a number counts
// as 0). One last entry holds P * P. `out` is replaced (sampled count + 1 entries).
// Throws cv::Exception for P outside 1..46340; `level` must be one of the record's (asserted).
void feature_cell_index(const ShapeModelRecord& rec, int level, int P, std::vector<int>& out);

// For every sampled point of the level, its k nearest sampled points (squared Euclidean distance
// of x, y; a KD tree of leaf size 10 built on the calling thread), nearest first, the point itself
// first even when other points share its position; equal distances otherwise keep ascending index
// order. Indices count sampled points. `out` is assigned k * count entries, point after point;
// entries beyond the points found (k > count) are 0. k below 1 gives an empty list.
// Sampling step: `step` when above 0, 2^(num_levels - level) when 0, 2^(num_levels - level - step)
// when below 0. Fills `grid` with that step, P, the count, 1, o and 2o / P.
// Throws cv::Exception for P below 1; `level` must be one of the record's (asserted).
void feature_neighbours(const ShapeModelRecord& rec, FeatureGrid& grid, int level, int P, int k,
                        std::vector<int>& out, int step);

}  // namespace quro

#endif  // QURO_MATCH_REFINE_FEATURE_CELLS_H
