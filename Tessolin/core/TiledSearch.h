// The workbench's search of very large images: the image is cut into overlapping tiles of about
// 640 pixels, each tile is searched on its own, and the matches are merged. Unlike the library's
// own tiled search, every tile is searched for the caller's number of matches and the merged list
// is never cut. No Qt here.
#ifndef TESSOLIN_TILED_SEARCH_H
#define TESSOLIN_TILED_SEARCH_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/quro.h"

namespace tessolin {

// Tiles along one image side: tile k covers [starts[k], ends[k]).
// The library has a tile grid of the same shape for its own tiled search, but it is internal to
// the library (the program sees only quro/quro.h), and its rule is another one: it overlaps
// tiles by the model's diagonal, clamps the tile counts and aligns every start to the model's
// pyramid, where the workbench overlaps by the model's side on each axis and aligns nothing
// (MakeTileGrid). The workbench keeps its own grid so that its tiles stay what they always were.
struct TileAxis {
    std::vector<int> starts, ends;
};

struct TileGrid {
    TileAxis columns, rows;
};

// Per side: n = roundf(side / 640.f) tiles, at least one (a side below 320 pixels would otherwise
// get none). Each tile is side / n pixels wide, the first side % n one pixel wider; the ends are
// the running sums. Each start is the previous tile's end moved back by the model's side, 0 when
// that falls below 1, so that neighbouring tiles overlap by a model. A side below 1 gets no
// tiles.
TileGrid MakeTileGrid(cv::Size image, cv::Size model);

// Removes from a list sorted best first every match that lies within max(distance, 0.5) (NaN
// counts as 0.5) in both x + dx and y + dy of an earlier match still in the list. Keeps the order.
void RemoveDuplicateMatches(std::vector<quro::Match>& sorted, float distance);

// The box of a model's outline points in the model's own frame (angle 0, scale 1), relative to
// its reference point.
struct ModelBox {
    float min_x = 0, max_x = 0, min_y = 0, max_y = 0;
};
// The box of model id's full-resolution outline; an empty box (a point) when it has none.
ModelBox ReadModelBox(int id);
// Removes from a list sorted best first every match whose box overlaps that of an earlier match
// still in the list by more than max_overlap (nothing for max_overlap >= 1). Keeps the order.
// The overlap is the one the library's match selection applies with max_overlap: the area of
// the intersection of the two boxes posed at (x + dx, y + dy) with their angles and row and
// column scales, over the smaller box's area; a box counts at least one pixel across.
void SuppressOverlappingMatches(std::vector<quro::Match>& sorted, const ModelBox& box,
                                float max_overlap);

// Searches model id in an 8-bit grey image tile by tile (rows outer, columns inner), each tile a
// copy searched by find_shape_model with the arguments given. The matches, moved into image
// coordinates, are sorted best first (stable: ties stay in tile order), duplicates found in the
// overlaps are removed (RemoveDuplicateMatches), and then every match that overlaps a better one
// by more than max_overlap (SuppressOverlappingMatches). A tile edge that cuts a part leaves only
// a piece of it in that tile, where a wrong pose can fit the piece (a ghost beside the true match
// that the tile holding the whole part finds): each tile's own selection cannot see the better
// match of its neighbour, the merged list's can, just as a single search of the whole image
// would. The list is emptied first.
// Returns 0; -2 when the model's "width0" or "height0" is below 1 (an unknown id included); -1
// for an empty or non-grey image, or when a tile search fails: the matches of the earlier tiles
// then stay in the list, unsorted. Every handle received is freed.
int FindShapeModelTiled(const cv::Mat& image, int id, float angle_start, float angle_extent,
                        float min_score, int num_matches, float max_overlap, int subpixel,
                        int* levels, float greediness, float duplicate_distance,
                        std::vector<quro::Match>& matches);

}  // namespace tessolin

#endif  // TESSOLIN_TILED_SEARCH_H
