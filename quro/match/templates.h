// Templates of the matching kernels: one model level posed at an angle and a scale (or row and
// column scales), as integer offsets from the reference point with a 16-direction code per point
// (QuantizedTemplate, scored on the response maps) or with the rotated direction as two floats
// (NormalTemplate, scored on the normal maps). Levels count from 1 (full resolution) to the
// record's num_levels (top). The pose arithmetic is the shared one of quro/model_pose.h.
#ifndef QURO_MATCH_TEMPLATES_H
#define QURO_MATCH_TEMPLATES_H

#include <climits>
#include <cstddef>
#include <vector>

#include "quro/model_table.h"

namespace quro {

// A posed level with quantised directions. xs, ys and codes are parallel lists of equal length.
// The box bounds the rounded offsets. A template without points (a level left without points)
// keeps min = INT_MAX and max = INT_MIN, so min > max: every consumer must treat size() == 0
// explicitly instead of using the box.
struct QuantizedTemplate {
    int min_x = INT_MAX;
    int min_y = INT_MAX;
    int max_x = INT_MIN;
    int max_y = INT_MIN;
    int level_width = 0;  // the level's image size, copied from the record
    int level_height = 0;
    std::vector<int> xs;     // rounded posed offsets (columns)
    std::vector<int> ys;     // rounded posed offsets (rows)
    std::vector<int> codes;  // quantize_direction16 of the rotated direction, 0..15
    std::size_t size() const { return xs.size(); }
};

// A posed level with the rotated directions (not re-normalised). Same box and empty-template rule
// as QuantizedTemplate.
struct NormalTemplate {
    int min_x = INT_MAX;
    int min_y = INT_MAX;
    int max_x = INT_MIN;
    int max_y = INT_MIN;
    int level_width = 0;
    int level_height = 0;
    std::vector<int> xs;
    std::vector<int> ys;
    std::vector<float> nxs;  // rotated direction, column component
    std::vector<float> nys;  // rotated direction, row component
    std::size_t size() const { return xs.size(); }
};

// Code 0..15 of the direction (a, b) = (column, row component): the nearest multiple of 22.5
// degrees of its angle from +y towards +x; a value on a bin boundary goes to the bin farther from
// the nearest axis. b == 0 counts as on the x axis, so (0, 0) gives 4. Bins alike with the image
// codes (orientation_bin16). Always 0..15, NaN included.
int quantize_direction16(float a, float b);

// Template builders. Every one of them samples the level's points at indices 0, d, 2d, ... with
// d = 2^(num_levels - level) (all points at the top level, every second one level lower, ...),
// poses each point, and replaces `out` completely, reusing the capacity of its lists. The aniso
// builders give circle models (shape kind 1) the direction of the scaled ellipse
// (circle_model_direction); the uniform ones keep stored directions. `level` must be one of the
// record's levels (ShapeModelRecord::has_level; asserted).
void quantized_template(const ShapeModelRecord& rec, QuantizedTemplate& out, int level,
                        float scale, float angle);
// Built ahead of its caller, the anisotropic search.
void quantized_template_aniso(const ShapeModelRecord& rec, QuantizedTemplate& out, int level,
                              float scale_row, float scale_col, float angle);
void normal_template(const ShapeModelRecord& rec, NormalTemplate& out, int level, float scale,
                     float angle);
void normal_template_aniso(const ShapeModelRecord& rec, NormalTemplate& out, int level,
                           float scale_row, float scale_col, float angle);

// As normal_template_aniso, with the sampling step chosen by `step`: step itself when above 0,
// 2^(num_levels - level) when 0, 2^(num_levels - level - step) when below 0 (coarser). Also
// writes the unrounded posed X and Y of every sampled point into *xf and *yf (each resized to the
// point count) when they are not null.
void normal_template_sampled(const ShapeModelRecord& rec, NormalTemplate& out, int level,
                             float scale_row, float scale_col, std::vector<float>* xf,
                             std::vector<float>* yf, int step, float angle);

// Whether the model placed at (cx, cy) on `level` (angle, uniform scale) has a tested point
// outside the image of width x height: tests the level's points at indices 0, k, 2k, ... with
// k = num_levels - level + 1, each posed and moved by (cx, cy), then rounded half away from zero;
// true at the first one with a column outside 0..width-1 or a row outside 0..height-1. A level
// without points gives false. `level` must be one of the record's levels (asserted).
bool model_leaves_image(const ShapeModelRecord& rec, float cx, float cy, int width, int height,
                        int level, float angle, float scale);

}  // namespace quro

#endif  // QURO_MATCH_TEMPLATES_H
