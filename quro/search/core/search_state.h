// Per-call working state of a search, kept between its stages, and its set-up: level plan,
// image and mask pyramids, level minimum scores. The stages themselves are in level_stages.h
// and search_finish.h, their order in level_loop.h.
#ifndef QURO_SEARCH_CORE_SEARCH_STATE_H
#define QURO_SEARCH_CORE_SEARCH_STATE_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/model_table.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/normal_maps.h"
#include "quro/search/core/search_request.h"
#include "quro/stopwatch.h"

namespace quro {

// Everything a single-model search keeps between its stages.
struct SearchState {
    Stopwatch sw;
    // Set once the time-out has passed, also by stages that otherwise only read the state.
    mutable StopFlag stop;
    Deadline deadline{sw, 0};  // the time-out on `sw`
    int metric = 0;
    int min_contrast = 1;  // of the search: the model's, or 1 below 2
    LevelPlan plan;
    std::vector<cv::Mat> pyramid;
    std::vector<cv::Mat> mask_pyramid;  // empty without a mask
    NormalMaps normals;                 // one entry per level, filled when a level is reached
    std::vector<float> min_scores;      // per level
    std::vector<std::vector<int>> cell_index;  // per level, computed when first needed
    std::vector<std::vector<int>> cell_order;
    float scale_max = 1.f;  // largest scale a template may take on the normal maps (1: rigid)
    float scale_min = 1.f;  // smallest scale of an instance (below 1: lower inner-level minima)
    // The level whose refinement starts from angles spread over the whole range, the levels
    // above it telling no angles apart (angle_profile.h); -1: none.
    int angle_seed_level = -1;
    // Whether the last level decides between alike poses (carries_alike_poses) and scores at
    // least kMinScoredPoints points (RefineLevel::point_step).
    bool alike_poses = false;

    // The limit the long stages ask between pieces of their work.
    TimeLimit limit() const { return {deadline, &stop}; }
    bool timed_out() const { return limit().passed(); }

    SearchState() = default;
    SearchState(const SearchState&) = delete;
    SearchState& operator=(const SearchState&) = delete;
    // A search that ends early (a time-out, an error) still holds its normal maps: they go to the
    // background release like those of a finished search (finish_search), since freeing tens of
    // megabytes of them would hold up the return by milliseconds.
    ~SearchState();
};

// Sets up the state from the request and the model record: time-out, metric, contrast, level
// plan, image and mask pyramids, level minimum scores. Returns 0, -1 for a model without levels,
// or -2 when the time-out passed while the pyramid was built.
int prepare_search(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_SEARCH_STATE_H
