// The stages every search runs on a pyramid level, in the order level_loop.h lists them: the
// level's response maps (top level) or normal maps and cell partition, the refinement's view of
// the level per model, admission before and filter after the refinement, the final selection and
// the least-squares mode of the last level.
#ifndef QURO_SEARCH_CORE_LEVEL_STAGES_H
#define QURO_SEARCH_CORE_LEVEL_STAGES_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/refine/refine_candidate.h"
#include "quro/match/select/multi_model_index.h"
#include "quro/match/subpixel/least_squares_refine.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/core/search_state.h"

namespace quro {

// Border of the normal maps of `level`: ceil(model radius of the level times max(1,
// st.scale_max)) + 5 when matches may cross the image border, or on the last level with the
// peak-fit mode; else 0. The scale keeps the templates of a scaled search inside the maps. The
// border is at most the level image's larger side + 5: a refined reference point lies inside the
// level, so a wider frame would only serve model points beyond that distance from every pixel of
// it.
int normal_map_border(const SearchState& st, const ShapeModelRecord& rec, int level);

// Computes the normal maps of `level` with `border` (and clears them where the level's mask is 0).
// Returns 0, or -2 when the time-out passes before or while they are computed (the search then
// gives up; its maps are released with the state).
int compute_level_normals(SearchState& st, int level, int border);

// The 16 response maps of the top level for a model level of `radius`: polarity-free for metric
// 0, signed otherwise. Returns 0, or -2 when the time-out passes before or while the codes or
// the maps are computed.
int top_level_response_maps(const SearchState& st, float radius, std::vector<cv::Mat>& maps);

// The same for any pyramid level, polarity-free or signed as asked.
int level_response_maps(const SearchState& st, int level, float radius, bool polarity_free,
                        std::vector<cv::Mat>& maps);

// One model as the level stages see it: the model of a single-model search (single_model) or
// one of a multi-model search's, with its own record, metric, plan (last level, cell grid sizes)
// and cell partitions per level. The cell values are the search's (st.plan).
struct SearchModel {
    const ShapeModelRecord* rec = nullptr;
    int metric = 0;
    const LevelPlan* plan = nullptr;
    std::vector<std::vector<int>>* cell_index = nullptr;
    std::vector<std::vector<int>>* cell_order = nullptr;
    bool alike_poses = false;  // as SearchState::alike_poses, for this model
};

// The single model of `st`: `rec` with the state's metric, plan and cell partitions.
SearchModel single_model(SearchState& st, const ShapeModelRecord& rec);

// Computes the model's cell partition of `level` once (when the level's cell value is above 1).
void prepare_level_cells(const SearchState& st, const SearchModel& m, int level);
void prepare_level_cells(SearchState& st, const ShapeModelRecord& rec, int level);

// The input of `level` every refinement of one model reads: the search's normal maps (computed
// with `border`), the model's metric, the search's deadline, and the given minimum score.
LevelInput level_input(const SearchState& st, const SearchModel& m, int level, int border,
                       float min_score);
LevelInput level_input(const SearchState& st, const ShapeModelRecord& rec, int level, int border,
                       float min_score);

// The refinement's view of `level` for one model: the search's normal maps (computed with
// `border`), the model's cells (prepared), metric and last level, the search's clock and
// time-out, and the given minimum score and shared templates (or null); on the search's last
// level, the point step of a model that carries alike poses there (last_level_point_step).
RefineLevel level_refinement(const SearchState& st, const SearchModel& m, int level, int border,
                             float min_score, LevelTemplates* templates);
RefineLevel level_refinement(SearchState& st, const ShapeModelRecord& rec, int level, int border,
                             float min_score, LevelTemplates* templates);

// One model's part of a level: its refinement view, whether the level settles the polarity of
// its candidates (for a negative metric, on the first level below the model's top), and how the
// level spreads their angles where the model's top levels tell no angles apart (angle_profile.h):
// the level's angle list when this level re-seeds them, the offset of the two turned copies each
// candidate gets on the levels below that one; and the shifts under which the level above looks
// alike (alike_shifts of that level, in its pixels), from which each candidate is also refined.
struct ModelLevel {
    RefineLevel lvl;
    bool settles_polarity = false;
    const std::vector<float>* seed_angles = nullptr;  // null: no re-seeding on this level
    float neighbour_offset = 0.f;                     // 0: no turned copies
    const std::vector<cv::Point2f>* alike_shifts = nullptr;  // null or empty: no moved copies
};

// The models' parts of a level: the one part of a single-model search, or one per model of a
// multi-model search, found for a candidate through the id index.
struct LevelModels {
    const ModelLevel* parts = nullptr;
    const ModelIdIndex* index = nullptr;  // null: the single part

    const ModelLevel& of(const Match& m) const {
        return index == nullptr ? *parts : parts[static_cast<std::size_t>(index->at(m.model_id))];
    }
};

// Before a level's refinement: the candidates' scores are those of the level above, and the
// refinement's entry test ("already below this level's minimum") would judge them against this
// level's threshold. That is wrong twice: the top level's quantised scores are not on the scale of
// the dot products below it (they run lower, see level_plan.h), and a finer level may score an
// instance higher than a coarser one, so the level above's own threshold (lower than this one's)
// is what its candidates had to pass, and they all did. Their scores are raised to this level's
// minimum; the refinement then scores each candidate anew (a walk that accepts no sample leaves
// score 0), and the filter after it applies this level's minimum.
void admit_candidates_to_level(std::vector<Match>& cands, float level_min_score);

// The same for one candidate between two walks of a level (the scaled search's scale walk, then
// its angle walk): a candidate the first walk confirmed at all (score above 0) is measured by the
// second; one it could not confirm keeps its 0.
void admit_to_next_walk(Match& cand, float level_min_score);

// After the refinement of a search's last level at full resolution: each candidate of a part
// whose level samples more points than its walks (RefineLevel::point_step above 0, a model that
// carries alike poses there) and that the walk confirmed (score above 0) takes the score of its
// refined pose over those points (score_at_pose), which the filter and the final selection then
// judge. Returns 0, or -2 on a time-out.
int score_alike_poses(const SearchState& st, const LevelModels& models,
                      std::vector<Match>& cands);

// After a level's refinement: drops each candidate below its model's minimum score of the level
// and brings the others' angles back into the search window (with one of its model's angle steps
// of margin above the last level).
void filter_refined_candidates(const SearchState& st, const SearchRequest& req, int level,
                               const LevelModels& models, std::vector<Match>& cands);
// The same for the candidates of one model, with the state's minimum score of the level.
void filter_refined_candidates(const SearchState& st, const SearchRequest& req, int level,
                               float angle_step, std::vector<Match>& cands);

// The least-squares mode of the search on `level`, for candidates in that level's coordinates.
// A match whose refined angle lies more than one angle step of level `reported_level` (the level
// the matches are handed out from) outside the search window gets its pose from before the
// refinement back (position and angle together: the fitted shift belongs to the fitted angle).
// The refinement corrects the errors of a level's angle sampling, below one step; a larger move
// means the instance's angle lies outside the window the caller asked for.
// Returns 0, or -2 when the time-out passed before every candidate was refined.
int refine_least_squares_in_window(const SearchRequest& req, const ShapeModelRecord& rec,
                                   const SearchState& st, int level, int reported_level,
                                   std::vector<Match>& cands, const PoseSource& src);

// The same with the level count of the point-step rule given (the multi-model search: that of
// the candidates' own model rather than the search's pyramid depth).
int refine_least_squares_in_window(const SearchRequest& req, const ShapeModelRecord& rec,
                                   const SearchState& st, int level, int reported_level,
                                   int levels_used, std::vector<Match>& cands,
                                   const PoseSource& src);

// The final selection on the last level searched (select_matches with the search's time limit),
// limited to what can reach the caller: no later step changes a score or the order, the final
// filter drops only matches below min_score, and a match below min_score can only suppress
// matches scoring lower still. So the matches below min_score are dropped first and the selection
// stops at num_matches (> 0); the caller receives the same matches as from a selection of all.
// `two_scales` selects with each candidate's row and column scales (select_matches_aniso).
void select_final_matches(const SearchRequest& req, const SearchState& st,
                          const ShapeModelRecord& rec, int level, std::vector<Match>& cands,
                          bool two_scales = false);
// The same over the candidates of several models, each tested with its own model
// (select_matches_multi, no border box).
void select_final_matches(const SearchRequest& req, const SearchState& st,
                          const ModelRecords& records, const ModelIdIndex& index, int level,
                          std::vector<Match>& cands);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_LEVEL_STAGES_H
