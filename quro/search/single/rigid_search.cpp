#include "quro/search/single/rigid_search.h"

#include <vector>

#include "quro/match/library_start.h"
#include "quro/model_table.h"
#include "quro/search/core/level_loop.h"
#include "quro/search/core/search_export.h"
#include "quro/search/core/search_finish.h"
#include "quro/status.h"

namespace quro {

int find_shape_model_impl(const SearchRequest& req, int model_id, Match*& results, int& count,
                          StoredRange range) {
    count = 0;
    if (check_request(req) != 0) return kFailed;
    ensure_library_started();
    auto stored = find_shape_model_record(model_id);
    if (!stored) return kFailed;
    ShapeModelRecord& rec = *stored;
    // Everything that could refuse the search later is checked before the stored model changes.
    if (!search_can_run(req, rec)) return kFailed;
    // The stored model keeps the range of its latest search (a later save writes it).
    if (range == StoredRange::kWrite)
        set_shape_model_angle_range(rec, req.angle_start, req.angle_extent);

    const SearchVariant rigid;
    SearchState st;
    if (const int rc = prepare_search(req, rec, st); rc != 0) return rc;
    std::vector<Match> cands;
    if (const int rc = search_all_levels(req, rec, st, rigid, cands); rc != 0) return rc;
    return finish_search(req, rec, model_id, st, cands, results, count);
}

}  // namespace quro

extern "C" QURO_API int find_shape_model(unsigned char* data, int width, int height, int model_id,
                                         float angle_start, float angle_extent, float min_score,
                                         int num_matches, float max_overlap, int subpixel_code,
                                         int* levels, float greediness, quro::Match*& results,
                                         int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, nullptr);
    return quro::run_search_export(
        count, [&] { return quro::find_shape_model_impl(req, model_id, results, count); });
}

extern "C" QURO_API int find_shape_model_2(unsigned char* data, int width, int height,
                                           int model_id, float angle_start, float angle_extent,
                                           float min_score, int num_matches, float max_overlap,
                                           int subpixel_code, int* levels, float greediness,
                                           unsigned char* mask, quro::Match*& results,
                                           int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, mask);
    return quro::run_search_export(
        count, [&] { return quro::find_shape_model_impl(req, model_id, results, count); });
}
