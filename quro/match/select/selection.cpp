#include "quro/match/select/selection.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "quro/match/order_utils.h"
#include "quro/match/select/rotated_box.h"
#include "quro/match/templates.h"
#include "quro/settings.h"

namespace quro {
namespace {

// A candidate placed for the selection: its rotated box and the model that decides the border.
// A null record means the candidate has no model and leaves the list.
struct Placement {
    RotatedBox box;
    const ShapeModelRecord* rec;
};

// Whether a corner of the box lies outside [0, width - 1] x [0, height - 1]; a NaN corner counts
// as outside, so that the model points decide.
bool box_leaves_image(const RotatedBox& b, int width, int height) {
    const auto right = static_cast<float>(width - 1), bottom = static_cast<float>(height - 1);
    return std::any_of(std::begin(b.corners), std::end(b.corners), [&](const cv::Point2f& p) {
        return !(p.x >= 0.f && p.x <= right && p.y >= 0.f && p.y <= bottom);
    });
}

// The selection shared by all variants; place(m) builds the candidate's Placement.
template <class Place>
void select_placed(int num_matches, cv::Size level_size, float max_overlap, std::vector<Match>& c,
                   int level_index, const SelectionLimit& limit, Place&& place) {
    const int width = level_size.width, height = level_size.height;
    std::stable_sort(c.begin(), c.end(), [](const Match& a, const Match& b) {
        return greater_nan_last(a.score, b.score);
    });
    const bool keep_inside = border_shape_models() <= 0;
    // An overlap is at most 1, so a limit of 1 or more never suppresses: nothing to measure.
    const bool measure_overlap = !(max_overlap >= 1.f);
    std::vector<Match> kept;
    std::vector<RotatedBox> kept_boxes;
    std::vector<float> kept_reach;
    std::size_t visited = 0;
    for (const Match& m : c) {
        if (++visited % kTimeoutCheckInterval == 0 && limit.passed()) break;
        const Placement p = place(m);
        if (p.rec == nullptr) continue;
        const auto x = static_cast<float>(m.x), y = static_cast<float>(m.y);
        if (keep_inside && box_leaves_image(p.box, width, height) &&
            model_leaves_image(*p.rec, x, y, width, height, level_index + 1, m.angle,
                               m.scale_row)) {
            continue;
        }
        // Each box lies inside the disc of its reach around its reference point: pairs whose
        // discs (widened by a pixel against rounding) do not meet cannot overlap.
        const float reach = rotated_box_reach(p.box, x, y);
        // Whether any selected match suppresses this one does not depend on the order in which
        // they are measured. Close ones are the likely suppressors, so they go first: pass 0
        // measures the pairs whose reference points lie within (1 - max_overlap) of the smaller
        // reach (+1 pixel), pass 1 the other pairs whose discs meet.
        bool suppressed = false;
        for (int pass = 0; pass < 2 && measure_overlap && !suppressed; ++pass) {
            for (std::size_t j = kept.size(); j-- > 0 && !suppressed;) {
                const double dx = static_cast<double>(m.x) - kept[j].x;
                const double dy = static_cast<double>(m.y) - kept[j].y;
                const double d2 = dx * dx + dy * dy;
                const double bound = static_cast<double>(reach) + kept_reach[j] + 1.0;
                const double close = (1.0 - static_cast<double>(max_overlap)) *
                                         std::min<double>(reach, kept_reach[j]) + 1.0;
                if (d2 > bound * bound || (d2 <= close * close) != (pass == 0)) continue;
                suppressed = rotated_box_overlap(p.box, kept_boxes[j]) > max_overlap;
            }
        }
        if (suppressed) continue;
        kept.push_back(m);
        kept_boxes.push_back(p.box);
        kept_reach.push_back(reach);
        if (num_matches > 0 && kept.size() >= static_cast<std::size_t>(num_matches)) break;
    }
    c.swap(kept);
}

// The placement of one model's candidates: boxes at (row, column) scale when `aniso`, else at the
// row scale alone.
auto one_model_placement(const OutlineBox& box, const ShapeModelRecord& rec, bool aniso) {
    return [&box, &rec, aniso](const Match& m) {
        return Placement{rotated_box_aniso(box, static_cast<float>(m.x), static_cast<float>(m.y),
                                           box.angle + m.angle, m.scale_row,
                                           aniso ? m.scale_col : m.scale_row),
                         &rec};
    };
}

}  // namespace

void select_matches(int num_matches, cv::Size level_size, const OutlineBox& box, float max_overlap,
                    std::vector<Match>& c, const ShapeModelRecord& rec, int level_index,
                    const SelectionLimit& limit) {
    assert(rec.has_level(level_index + 1));
    select_placed(num_matches, level_size, max_overlap, c, level_index, limit,
                  one_model_placement(box, rec, false));
}

void select_matches_aniso(int num_matches, cv::Size level_size, const OutlineBox& box,
                          float max_overlap, std::vector<Match>& c, const ShapeModelRecord& rec,
                          int level_index, const SelectionLimit& limit) {
    assert(rec.has_level(level_index + 1));
    select_placed(num_matches, level_size, max_overlap, c, level_index, limit,
                  one_model_placement(box, rec, true));
}

void select_matches_multi(int num_matches, cv::Size level_size, float max_overlap,
                          std::vector<Match>& c, const ModelRecords& records,
                          const ModelIdIndex& id_to_index, int level_index,
                          const SelectionLimit& limit) {
    // Each model's box of the level, read once.
    std::vector<OutlineBox> boxes(records.size());
    std::vector<char> box_read(records.size(), 0);
    select_placed(num_matches, level_size, max_overlap, c, level_index, limit, [&](const Match& m) {
        const int index = candidate_model_index(m, records, id_to_index);
        if (index < 0) return Placement{RotatedBox{}, nullptr};
        const auto k = static_cast<std::size_t>(index);
        if (!box_read[k]) {
            boxes[k] = outline_box(*records[k], level_index + 1);
            box_read[k] = 1;
        }
        return Placement{rotated_box(boxes[k], static_cast<float>(m.x), static_cast<float>(m.y),
                                     boxes[k].angle + m.angle, m.scale_row),
                         records[k].get()};
    });
}

}  // namespace quro
