// Per-call working state of a single-model search and the stages every such search shares:
// preparing levels and pyramids, the normal maps of a level (with the mask applied), the cell
// partition of a level, the filter after a level's refinement, and the hand-out at the end.
#ifndef QURO_SEARCH_CORE_SEARCH_STATE_H
#define QURO_SEARCH_CORE_SEARCH_STATE_H

#include <vector>

#include <opencv2/core.hpp>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/select/multi_model_index.h"
#include "quro/match/subpixel/least_squares_refine.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/normal_maps.h"
#include "quro/search/core/search_input.h"
#include "quro/stopwatch.h"

namespace quro {

// The caller's arguments common to every search export.
struct SearchRequest {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    float angle_start = 0.f;
    float angle_extent = 0.f;
    float min_score = 0.f;
    int num_matches = 0;
    float max_overlap = 0.f;
    int subpixel_code = 0;
    int levels[2] = {0, 0};
    float greediness = 0.f;
    const unsigned char* mask = nullptr;  // the masked searches only; null: no mask
};

// Reads a caller's level pair; null means {0, 0}.
void copy_level_pair(const int* levels, SearchRequest& req);

// Returns -1 unless the request's shared arguments are usable (check_search_args).
int check_request(const SearchRequest& req);

// Whether a search of `rec` with `req` can run to its end: the record is consistent, the levels
// pair plans, and the top level's angle list fits. Every search checks this before it writes a
// range into any record. A search that leaves the stored model alone (so that two of them may
// run on one model at once) works on a member-wise copy from copy_shape_model_record (taken under
// the table's shared lock); every stage takes the record it is given, so it runs on the copy.
bool search_can_run(const SearchRequest& req, const ShapeModelRecord& rec);

// Whether a search of a stored model writes the request's angle range into it (the exports do,
// so that a later save writes it) or leaves the model alone (the tiled searches store the range
// once through their first tile and then search the other tiles concurrently).
enum class StoredRange { kWrite, kLeave };

// A search's private working record: a member-wise copy of the stored model `model_id` with the
// request's angle range (the stored record is never written, so two searches of one model may
// run at once). False for an unknown id or a model the request cannot search.
bool copy_record_for_search(const SearchRequest& req, int model_id, ShapeModelRecord& rec);

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

// Border of the normal maps of `level`: ceil(model radius of the level times max(1,
// st.scale_max)) + 5 when matches may cross the image border, or on the last level with the
// peak-fit mode; else 0. The scale keeps the templates of a scaled search inside the maps. The border is at most the
// level image's larger side + 5: a refined reference point lies inside the level, so a wider
// frame would only serve model points beyond that distance from every pixel of it.
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
// time-out, and the given minimum score and shared templates (or null).
RefineLevel level_refinement(const SearchState& st, const SearchModel& m, int level, int border,
                             float min_score, LevelTemplates* templates);
RefineLevel level_refinement(SearchState& st, const ShapeModelRecord& rec, int level, int border,
                             float min_score, LevelTemplates* templates);

// One model's part of a level: its refinement view, whether the level settles the polarity of
// its candidates (for a negative metric, on the first level below the model's top), and how the
// level spreads their angles where the model's top levels tell no angles apart (angle_profile.h):
// the level's angle list when this level re-seeds them, the offset of the two turned copies each
// candidate gets on the levels below that one.
struct ModelLevel {
    RefineLevel lvl;
    bool settles_polarity = false;
    const std::vector<float>* seed_angles = nullptr;  // null: no re-seeding on this level
    float neighbour_offset = 0.f;                     // 0: no turned copies
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

// Stages at the end of a search that reached its last level: back to full resolution, hand-out of at most num_matches as a registered array,
// and release of the normal maps in the background. Returns the handle, 0 or -1, or -2 (nothing
// registered) when the time-out passes during the full-resolution least squares. With the
// full-resolution least-squares mode the matches are refined on the way down, on the last level
// searched and on every level below it: from a coarse level alone the angle error can exceed
// what one step of the full-resolution refinement may correct, and its position error the reach
// of its edge search. `src` poses the model points of that refinement.
int finish_search(const SearchRequest& req, const ShapeModelRecord& rec, int model_id,
                  SearchState& st, std::vector<Match>& cands, Match*& results, int& count,
                  const PoseSource& src = PoseSource::rigid(), HandOutOptions out = {});

}  // namespace quro

#endif  // QURO_SEARCH_CORE_SEARCH_STATE_H
