#include "quro/search/multi/multi_search.h"

#include <algorithm>
#include <utility>

#include "quro/match/library_start.h"
#include "quro/match/angle_scale_lists.h"
#include "quro/model_validation.h"
#include "quro/search/core/angle_profile.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/search_export.h"
#include "quro/search/core/search_input.h"
#include "quro/search/multi/multi_levels.h"
#include "quro/status.h"

namespace quro {

namespace {

// Looks every id up and plans its model, before anything is written. An id given twice is one
// model, planned with the pair of its last occurrence (the later pair wins, as in the id index),
// at the place of its first occurrence. Returns false for an unknown id or a model that cannot
// be searched with its pair.
bool gather_models(const SearchRequest& req, const int* ids, int num_ids, const int* levels,
                   MultiSearchState& ms) {
    for (int i = 0; i < num_ids; ++i) {
        auto rec = find_shape_model_record(ids[i]);
        if (!rec || !shape_model_is_consistent(*rec)) return false;
        const auto [it, fresh] = ms.index.try_emplace(ids[i], static_cast<int>(ms.models.size()));
        if (fresh) ms.models.push_back({ids[i], rec, {}, {}, {}, {}, -1});
        MultiModel& m = ms.models[static_cast<std::size_t>(it->second)];
        const int built =
            std::min<int>(rec->num_levels, static_cast<int>(rec->level_features.size()));
        if (!plan_model_levels(levels + 2 * i, built, req.subpixel_code, m.plan) ||
            !angle_list_fits(*rec, m.plan.top + 1, req.angle_extent))
            return false;
    }
    return true;
}

// The shared state: largest time-out, smallest minimum contrast, pyramids as deep as the deepest
// top, the smallest last level, and the per-model level data. Returns 0 or -2.
int prepare_multi_search(const SearchRequest& req, MultiSearchState& ms) {
    SearchState& st = ms.shared;
    int contrast = 255, depth = 0, last = 1 << 30;
    st.deadline.timeout_ms = 0;
    for (MultiModel& m : ms.models) {
        st.deadline.timeout_ms = std::max(st.deadline.timeout_ms, m.rec->timeout_ms);
        contrast = std::min(contrast, m.rec->contrast.min_contrast);
        depth = std::max(depth, m.plan.levels_used);
        last = std::min(last, m.plan.last);
        m.min_scores = level_min_scores(req.min_score, m.plan.levels_used);
        m.cell_index.assign(static_cast<std::size_t>(m.plan.levels_used), {});
        m.cell_order.assign(static_cast<std::size_t>(m.plan.levels_used), {});
        ms.records.push_back(m.rec);
    }
    st.min_contrast = search_min_contrast(contrast);
    st.plan.levels_used = depth;
    st.plan.top = depth - 1;
    plan_modes_and_cells(req.subpixel_code, st.plan);
    st.plan.last = last;
    for (MultiModel& m : ms.models) {
        m.angle_seed_level = angle_seed_level(*m.rec, m.plan.top, last);
        m.alike_poses = carries_alike_poses(*m.rec, m.angle_seed_level, m.plan.top, last);
    }
    st.pyramid = build_search_pyramid(req.data, req.width, req.height, depth, st.limit());
    st.mask_pyramid = build_mask_pyramid(req.mask, req.width, req.height, depth);
    st.sw.lap("pyrDown");
    if (st.timed_out()) return kTimedOut;
    st.normals.nx.assign(static_cast<std::size_t>(depth), cv::Mat());
    st.normals.ny.assign(static_cast<std::size_t>(depth), cv::Mat());
    ms.top_stage.assign(static_cast<std::size_t>(depth), {});
    return kOk;
}

}  // namespace

int find_shape_models_impl(const SearchRequest& req, const int* ids, int num_ids,
                           const int* levels, Match*& results, int& count,
                           StoredRange range) {
    count = 0;
    if (check_request(req) != 0 || ids == nullptr || levels == nullptr || num_ids < 1)
        return kFailed;
    ensure_library_started();
    MultiSearchState ms;
    if (!gather_models(req, ids, num_ids, levels, ms)) return kFailed;
    // Every model can be searched: now each stored model keeps the range of its latest search.
    if (range == StoredRange::kWrite)
        for (MultiModel& m : ms.models)
            set_shape_model_angle_range(*m.rec, req.angle_start, req.angle_extent);

    if (const int rc = prepare_multi_search(req, ms); rc != 0) return rc;
    if (const int rc = multi_top_stage(req, ms); rc != 0) return rc;
    SearchState& st = ms.shared;
    std::vector<Match> cands = std::move(ms.top_stage[static_cast<std::size_t>(st.plan.top)]);
    if (st.plan.top == st.plan.last) {
        select_final_matches(req, st, ms.records, ms.index, st.plan.last, cands);
        if (st.timed_out()) return kTimedOut;
    }
    for (int level = st.plan.top - 1; level >= st.plan.last; --level)
        if (const int rc = multi_search_level(req, ms, level, cands); rc != 0) return rc;

    // The final score filter: as in the rigid search, when the search stopped above full
    // resolution or a model's only level was the last one (its threshold was below min_score).
    const int last = st.plan.last;
    const bool single_level = std::any_of(ms.models.begin(), ms.models.end(), [&](const auto& m) {
        return m.plan.top == last;
    });
    const CandidateModels models{.by_id = [&ms](int id) { return ms.model_of_id(id); }};
    scale_back_to_full_resolution(cands, last, req.min_score, last > 0 || single_level, models);
    st.sw.lap("matchEnd");
    release_in_background(std::move(st.normals));
    return hand_out_matches(cands, req.num_matches, 0,
                            {.keep_model_ids = true,
                             .angle_start = req.angle_start,
                             .angle_extent = req.angle_extent},
                            results, count);
}

}  // namespace quro

extern "C" QURO_API int find_shape_models(unsigned char* data, int width, int height, int* ids,
                                          int num_ids, float angle_start, float angle_extent,
                                          float min_score, int num_matches, float max_overlap,
                                          int subpixel_code, int* levels, float greediness,
                                          quro::Match*& results, int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, nullptr, greediness, nullptr);
    return quro::run_search_export(count, [&] {
        return quro::find_shape_models_impl(req, ids, num_ids, levels, results, count);
    });
}

extern "C" QURO_API int find_shape_models_2(unsigned char* data, int width, int height, int* ids,
                                            int num_ids, float angle_start, float angle_extent,
                                            float min_score, int num_matches, float max_overlap,
                                            int subpixel_code, int* levels, float greediness,
                                            unsigned char* mask, quro::Match*& results,
                                            int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, nullptr, greediness, mask);
    return quro::run_search_export(count, [&] {
        return quro::find_shape_models_impl(req, ids, num_ids, levels, results, count);
    });
}
