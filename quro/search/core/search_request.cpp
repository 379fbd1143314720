#include "quro/search/core/search_request.h"

#include "quro/match/angle_scale_lists.h"
#include "quro/model_validation.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/search_input.h"

namespace quro {

void copy_level_pair(const int* levels, SearchRequest& req) {
    req.levels[0] = levels ? levels[0] : 0;
    req.levels[1] = levels ? levels[1] : 0;
}

int check_request(const SearchRequest& req) {
    return check_search_args(req.data, req.width, req.height, req.angle_start, req.angle_extent,
                             req.min_score, req.max_overlap);
}

bool search_can_run(const SearchRequest& req, const ShapeModelRecord& rec) {
    LevelPlan plan;
    return shape_model_is_consistent(rec) &&
           plan_levels(req.levels, rec.num_levels, req.subpixel_code, plan) &&
           angle_list_fits(rec, plan.top + 1, req.angle_extent);
}

bool copy_record_for_search(const SearchRequest& req, int model_id, ShapeModelRecord& rec) {
    if (!copy_shape_model_record(model_id, rec) || !search_can_run(req, rec)) return false;
    rec.angle_start = req.angle_start;
    rec.angle_extent = req.angle_extent;
    return true;
}

}  // namespace quro
