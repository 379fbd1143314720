// Refinement of one candidate of the locally deformable search on a level below the rigid ones:
// every sampled model point may move inside a small window of positions, judged by the agreement
// of its nearest neighbours moved with it, and the accepted point displacements are spread into a
// dense deformation field over the candidate's rectangle (dense_field.h).
//
// Frames: the candidate's x and y are pixels of the level (already refined rigidly on it). The
// field rectangle holds every point of the model level posed at the candidate plus a margin of 4
// pixels (the posed extent of the points, not the image the model came from); the candidate's
// whole-pixel centre lies at its origin. A model point posed at (px, py) about the candidate's
// exact centre (x + dx, y + dy) has its source position origin + (dx + px, dy + py) in the
// rectangle: the position its rigid pose gives it less the rectangle's corner. The maps hold, for
// each rectangle pixel, the rectangle position where that model pixel was found (displacement =
// map - position): the deformation beyond the candidate's pose.
#ifndef QURO_MATCH_DEFORM_DEFORMABLE_REFINE_H
#define QURO_MATCH_DEFORM_DEFORMABLE_REFINE_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/level_input.h"
#include "quro/model_table.h"
#include "quro/quro.h"

namespace quro {

// The deformable levels' tables, indexed by the stage (0 for the first deformable level below the
// rigid ones, then 1, 2, ... towards full resolution; deform_stage clamps into the six entries).
inline constexpr int kDeformStages = 6;
inline constexpr int kDeformWindowBase[kDeformStages] = {4, 4, 4, 4, 4, 4};
inline constexpr int kDeformPointStep[kDeformStages] = {2, 4, 8, 16, 32, 64};
inline constexpr int kDeformGridDivisor[kDeformStages] = {16, 32, 32, 32, 32, 32};

// The table index of stage `s`: s clamped into 0 .. kDeformStages - 1.
int deform_stage(int s);

// Neighbours per point when the deformable levels start below boundary level `boundary` (counted
// from 1, the last searched level being 1): max(6, 6 * (boundary - 1)).
int deform_neighbour_count(int boundary);

// The offsets of the square ring of Chebyshev radius j about (0, 0) (the centre alone for j = 0,
// none for j < 0), in a fixed order: the top row left to right, then the right column downwards,
// the bottom row right to left, the left column upwards.
std::vector<cv::Point> ring_points(int j);

// The deformation field of one candidate: its rectangle in the level image and the two absolute
// sampling maps (CV_32FC1 of the rectangle's size). Empty maps: no field yet.
struct DeformField {
    cv::Rect rect;
    cv::Mat map_x;
    cv::Mat map_y;
    cv::Point2f centre{0.f, 0.f};  // the candidate's exact centre in the rectangle when solved

    bool empty() const { return map_x.empty() || map_y.empty(); }
};

// Sampled position of a field at (x, y) of its rectangle: writes map - position (the
// displacement) to dx, dy. An empty field gives 0.
void field_displacement(const DeformField& f, float x, float y, float& dx, float& dy);

// One deformable level, as the search builds it once per level: the level's input (level_input.h;
// metric 0: absolute dot products), whether this is the last level searched (one pass; two above
// it), the table stage, and the neighbour lists of the level's points sampled at the stage's point
// step (feature_neighbours with neighbour_count entries per point).
struct DeformLevel : LevelInput {
    bool last = false;
    int stage = 0;
    const std::vector<int>* neighbours = nullptr;
    int neighbour_count = 0;
};

// Refines `cand` (already on this level) and replaces `field` by the candidate's field on this
// level; a field from the level above (non-empty) seeds the displacements, its deformation
// sampled at half each point's offset from that field's centre and doubled. Per pass, each
// point's window value at an offset is the mean over its neighbours of the dot product of the
// image normal at the neighbour's predicted position plus the offset with the neighbour's model
// normal (normals outside the maps count 0; negated for the flag -1). The window's best value
// decides the move (see analyse_window in the .cpp): a 2-D sub-pixel peak moves the point, else
// only the sub-pixel move along its model normal is taken (the move along its edge keeps what the
// field said). After every pass the pose (position, angle, row and column scales) takes the part
// of the moves a pose explains (robust least squares along the model normals), so the field keeps
// only the deformation; the field is a penalised spline (dense_field_spline.h) in which each point
// fixes the component across its edge. The candidate's score becomes the plain mean agreement of
// its points moved by the final field less kFieldEnergyCost (see the .cpp) times the field's mean
// squared displacement at the points in full-resolution pixels, but not below the score of its
// points unmoved. Where its points score at least as high unmoved, at the pose the fits moved
// to or at the pose the candidate came with, the better of those poses and its score stand and
// the field becomes one of no deformation over the rectangle. Where the field raises the plain
// agreement by more than 0.01 above both, its mean displacement over the rectangle moves into the
// candidate's exact position (dx, dy, which may then leave -0.5 .. 0.5) and out of the field.
// Returns at once, changing nothing, when the time-out has passed or the score is below the
// level's minimum; a time-out between passes leaves the candidate and field as the last full pass
// made them. Safe to call concurrently for different candidates and fields.
void refine_deformable(const DeformLevel& lvl, Match& cand, DeformField& field);

}  // namespace quro

#endif  // QURO_MATCH_DEFORM_DEFORMABLE_REFINE_H
