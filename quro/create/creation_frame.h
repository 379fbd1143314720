// The frame every shape model creation export runs in: a fresh record holding the caller's
// angles, metric and contrast values with a time-out of 1000 ms, a stopwatch started before the
// variant builds its levels, and the insertion into the model table when the build succeeds.
#ifndef QURO_CREATE_CREATION_FRAME_H
#define QURO_CREATE_CREATION_FRAME_H

#include <utility>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// What every creation export stores in its model as given.
struct CreationArgs {
    float angle_start = 0.f;
    float angle_extent = 0.f;
    float angle_step = 0.f;
    int metric = 0;
    ContrastParams contrast{0, 0, 0, 0};
};

// Lap labels of the two creation families; "%d" takes the number of levels built.
inline constexpr const char* kImageCreationLabel = "create_shape_model, num_levels = %d";
inline constexpr const char* kOutlineCreationLabel = "create_shape_model_xld, num_levels = %d";

// A fresh record with the arguments stored and timeout_ms = 1000; the scale fields keep their
// fresh values.
ShapeModelRecord new_creation_record(const CreationArgs& args);

// Ends a creation: takes the stopwatch's lap under `lap_format`, then on build_rc != 0 returns
// build_rc (the record is dropped, *id untouched); returns -1 likewise when the record fails
// validate_shape_model_record; otherwise inserts the record under the lowest free id, writes the
// id to *id and returns 0. May throw std::bad_alloc before inserting.
int finish_creation(ShapeModelRecord&& rec, Stopwatch& watch, const char* lap_format, int build_rc,
                    int* id);

// Runs one creation: `build(record, watch)` fills the per-level lists and num_levels and returns
// 0 or the export's error code. `id` must not be null.
template <class Build>
int run_creation(const CreationArgs& args, const char* lap_format, int* id, Build&& build) {
    ShapeModelRecord rec = new_creation_record(args);
    Stopwatch watch;
    const int rc = std::forward<Build>(build)(rec, watch);
    return finish_creation(std::move(rec), watch, lap_format, rc, id);
}

// The measured box of one model level, in the level's own frame (after rotating the points by
// -angle for image models, unrotated for outline models).
struct LevelBox {
    int width = 0;   // level image columns (or outline extent)
    int height = 0;  // level image rows
    float min_x = 0.f;
    float max_x = 0.f;
    float min_y = 0.f;
    float max_y = 0.f;
    float radius = 0.f;  // largest distance of a point from the reference point
    float angle = 0.f;   // box angle, degrees
};

// Appends one level (its points and box) to every per-level list of the record; num_levels is
// left to the caller.
void append_model_level(ShapeModelRecord& rec, std::vector<Feature>&& points, const LevelBox& box);

// Sets num_levels to the number of levels built. Returns 0, or -1 when there is none.
int close_model_levels(ShapeModelRecord& rec);

}  // namespace quro

#endif  // QURO_CREATE_CREATION_FRAME_H
