// The creation frame for models made without an image (generated outlines, polygons, point
// lists): level 1 from the variant, the coarser levels derived from it.
#ifndef QURO_CREATE_OUTLINE_CREATION_H
#define QURO_CREATE_OUTLINE_CREATION_H

#include <cstdint>
#include <utility>
#include <vector>

#include "quro/create/creation_frame.h"
#include "quro/create/outline_levels.h"

namespace quro {

// Runs one outline creation: `make_level1(points)` appends the level-1 points and returns 0, or
// the export's error code (-1, -3, -4), which ends the creation. The record gets `shape_kind`;
// `start` bounds the level boxes. Returns as run_creation. `id` must not be null.
template <class MakeLevel1>
int create_outline_model(const CreationArgs& args, std::uint8_t shape_kind,
                         const OutlineBoxStart& start, int* id, MakeLevel1&& make_level1) {
    return run_creation(
        args, kOutlineCreationLabel, id, [&](ShapeModelRecord& rec, Stopwatch& watch) {
            rec.shape_kind = shape_kind;
            std::vector<Feature> level1;
            const int rc = std::forward<MakeLevel1>(make_level1)(level1);
            if (rc != 0) return rc;
            return build_outline_levels(std::move(level1), start, rec, {watch, rec.timeout_ms});
        });
}

}  // namespace quro

#endif  // QURO_CREATE_OUTLINE_CREATION_H
