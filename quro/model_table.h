// Shape model records and the process-wide model table.
#ifndef QURO_MODEL_TABLE_H
#define QURO_MODEL_TABLE_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "quro/quro.h"

namespace quro {

// What the search has measured of one record's levels (ShapeModelRecord::angle_profiles,
// quro/search/core/angle_profile.h): entry level - 1 holds alike_angle_fraction of that level,
// NaN until measured, and alike_shifts of that level (pairs x, y), measured where shifts_known.
struct AngleProfileCache {
    std::mutex mutex;
    std::vector<float> alike_fraction;
    std::vector<std::vector<float>> alike_shifts;
    std::vector<bool> shifts_known;
};

// A new, empty cache.
std::shared_ptr<AngleProfileCache> make_angle_profile_cache();

// What a record was built from: ShapeModelRecord::shape_kind, one byte in model files. Outline
// kinds 2..9 (the outline creators' shape codes) all behave as kShapeOutline.
enum ShapeKind : std::uint8_t {
    kShapeImage = 0,    // built from an image
    kShapeCircle = 1,   // a circle outline: point directions follow the scaled ellipse
    kShapeOutline = 2,  // any other outline, polygon or point list
};

// One level of a record, as the matching core reads it: the level's image size, its outline box
// (rotated by `angle`), radius, box angle in degrees and its points.
struct LevelView {
    int width;
    int height;
    float box_min_x, box_min_y, box_max_x, box_max_y;
    float radius;
    float angle;
    const std::vector<Feature>& features;
};

// One shape model: the creation parameters and the edge points of each pyramid level.
// Levels are numbered from 1 (full resolution); entry i of every per-level list is level i + 1.
struct ShapeModelRecord {
    int num_levels = 0;  // levels actually built
    float angle_start = 0.f;
    float angle_extent = 0.f;
    float angle_step = 0.f;
    float scale_min = 1.f, scale_max = 1.f, scale_step = 0.f;
    float scale_row_min = 1.f, scale_row_max = 1.f, scale_row_step = 0.f;
    float scale_col_min = 1.f, scale_col_max = 1.f, scale_col_step = 0.f;
    float origin_first = 0.f, origin_second = 0.f;  // set_shape_model_origin, argument order
    int reserved = 0;
    int metric = 0;
    std::uint8_t shape_kind = kShapeImage;  // a ShapeKind, 0..9
    int timeout_ms = 1000;  // below 1: no limit
    ContrastParams contrast{0, 0, 0, 0};
    std::vector<int> level_widths;
    std::vector<int> level_heights;
    std::vector<float> box_min_x, box_min_y, box_max_x, box_max_y;  // rotated by level_angle
    std::vector<float> level_radius;  // largest distance of a point from the level's centre
    std::vector<float> level_angle;   // box angle, degrees
    std::vector<std::vector<Feature>> level_features;
    // Derived from the points, never written to files: what the searches measured of each level's
    // self-similarity under rotation (angle_profile.h). The table gives every record it takes in
    // a new one (so a loaded model measures afresh), copies of a record share it, and an edit of
    // a stored record replaces it. Null: measured on every use.
    std::shared_ptr<AngleProfileCache> angle_profiles;

    // Whether `level` (1 = full resolution) is one of the built levels, with an entry in every
    // per-level list. Records in the table hold every level up to num_levels (they are validated
    // when they enter it); a level that comes from a caller is checked here.
    bool has_level(int level) const;
    // The view of `level`, which must be one of the built levels (asserted).
    LevelView level(int level) const;
};

inline bool ShapeModelRecord::has_level(int level) const {
    if (level < 1 || level > num_levels) return false;
    const auto need = static_cast<std::size_t>(level);
    return level_features.size() >= need && level_widths.size() >= need &&
           level_heights.size() >= need && box_min_x.size() >= need && box_min_y.size() >= need &&
           box_max_x.size() >= need && box_max_y.size() >= need && level_radius.size() >= need &&
           level_angle.size() >= need;
}

inline LevelView ShapeModelRecord::level(int level) const {
    assert(has_level(level));
    const auto i = static_cast<std::size_t>(level - 1);
    return LevelView{level_widths[i], level_heights[i], box_min_x[i],    box_min_y[i],
                     box_max_x[i],    box_max_y[i],     level_radius[i], level_angle[i],
                     level_features[i]};
}

// Calls f on each of the eight per-level lists of `r` (all but level_features), in file order.
template <class Record, class F>
void for_each_level_list(Record& r, F&& f) {
    f(r.level_widths);
    f(r.level_heights);
    f(r.box_min_x);
    f(r.box_min_y);
    f(r.box_max_x);
    f(r.box_max_y);
    f(r.level_radius);
    f(r.level_angle);
}

// Brings a record back to the values of a fresh one.
void reset_shape_model_record(ShapeModelRecord& rec);

// Inserts a copy of `rec` under the lowest free id (from 0) and returns the id.
// May throw std::bad_alloc; then nothing is inserted.
int add_shape_model(const ShapeModelRecord& rec);
// As above, taking the record over without a copy.
int add_shape_model(ShapeModelRecord&& rec);

// Whether `id` is in the table.
bool has_shape_model(int id);

// The record of `id`, or null. The record stays alive while the returned pointer is held, even
// if the model is cleared meanwhile; edits through it reach the stored model.
std::shared_ptr<ShapeModelRecord> find_shape_model_record(int id);

// Writes a search's angle range into a stored record (held through find_shape_model_record)
// under the table's exclusive lock, so that it never meets a reader of
// read_shape_model_locked half way.
void set_shape_model_angle_range(ShapeModelRecord& rec, float start, float extent);

// Runs `read` on the record of `id` under the table's shared lock and returns true; false (and
// `read` does not run) when the id is below 0 or absent. `read` must not insert, erase or set a
// range (those wait for the lock it holds); exceptions pass through after the lock is dropped.
bool read_shape_model_locked(int id, const std::function<void(const ShapeModelRecord&)>& read);

// Runs `edit` on the record of `id` under the table's exclusive lock and returns true; false (and
// `edit` does not run) when the id is below 0 or absent. Every change to a stored model goes
// through here, so that a search copying the record never meets it half way. `edit` must not call
// back into the table; exceptions pass through after the lock is dropped.
bool edit_shape_model_locked(int id, const std::function<void(ShapeModelRecord&)>& edit);

// Replaces `out` by a member-wise copy of the record of `id`, taken under the table's shared
// lock (so a search writing its range into the stored record is never met half way), and returns
// true; false, with `out` unchanged, when the id is below 0 or absent. May throw std::bad_alloc.
bool copy_shape_model_record(int id, ShapeModelRecord& out);

// Removes `id`. Returns 0, or -1 when the id is below 0 or absent.
int erase_shape_model(int id);

// Number of models in the table (for leak checks and tests).
std::size_t shape_model_count();

}  // namespace quro

#endif  // QURO_MODEL_TABLE_H
