// The frame every search export shares: argument checks, the level and sub-pixel plan, the image
// pyramid, per-level score thresholds, the stop flag, angle clamping, the scale-back to full
// resolution, handing the matches out, and the background release of the normal maps.
#ifndef QURO_SEARCH_SEARCH_FRAME_H
#define QURO_SEARCH_SEARCH_FRAME_H

#include <atomic>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// Widest rotation range a search accepts, in degrees: ten full turns. Anything wider is no
// sensible range (and a huge one would only fail later, when its angles are listed).
inline constexpr float kMaxAngleExtent = 3600.f;

// Checks the arguments every search shares, before anything else happens (a rejected call must
// not change the stored model). Returns 0 or -1.
//   data null, width or height < 1, min_score or max_overlap negative or not a number,
//   angle_start not finite, angle_extent below -1e-6, above kMaxAngleExtent or not finite -> -1.
int check_search_args(const unsigned char* data, int width, int height, float angle_start,
                      float angle_extent, float min_score, float max_overlap);

// Sub-pixel step of the last level: 0 none, 1 score peak fit, 2/4/5 least squares on the last
// level searched (2, 3, 4 iterations), 3 least squares at full resolution after stopping one level
// above it. A negative code gives a negative mode: no sub-pixel step.
enum SubpixelMode : int {
    kSubpixelNone = 0,
    kSubpixelPeakFit = 1,
    kSubpixelLeastSquares2 = 2,
    kSubpixelLeastSquaresFull = 3,
    kSubpixelLeastSquares3 = 4,
    kSubpixelLeastSquares4 = 5,
};

// Which pyramid levels a search runs on and how it refines them. Levels are 0-based here
// (0 = full resolution).
struct LevelPlan {
    int levels_used = 0;  // L: pyramid levels built
    int top = 0;          // L - 1: exhaustive level
    int last = 0;         // lowest level searched
    int mode = 0;         // SubpixelMode (may be negative)
    std::vector<int> cell_values;  // per level; above 1: cell-partitioned refinement
    std::vector<int> grid_sizes;   // per level; the cell grid of levels whose cell value > 1
};

// Overlap limit of the top level's box suppression, used when the caller's max_overlap is lower.
// That suppression compares axis-parallel template boxes of one angle on the coarsest level;
// with the caller's limit there, of two overlapping instances the better one could be suppressed
// by a peak of the other before either was measured. The caller's limit applies in the final
// selection, to rotated boxes on the last level; the top level only removes near duplicates.
inline constexpr float kCoarseOverlapLimit = 0.7f;

// Resolves the caller's level pair {first, last} (1-based; null means {0, 0}) and the sub-pixel
// code against a model of `num_levels` levels. Returns false when the model has no levels.
bool plan_levels(const int* levels, int num_levels, int subpixel_code, LevelPlan& plan);

// The image pyramid: level 0 is a header on the caller's bytes, level k the cv::pyrDown of k-1.
std::vector<cv::Mat> build_search_pyramid(const unsigned char* data, int width, int height,
                                          int levels_used);

// The mask pyramid of the masked searches: entry 0 the mask, entry 1 its cv::pyrDown, entries 2
// and above empty (only the two finest levels are masked). An empty vector for a null mask and for
// a mask without any 0 (it would change nothing).
std::vector<cv::Mat> build_mask_pyramid(const unsigned char* mask, int width, int height,
                                        int levels_used);

// Factors of a search's minimum score on the coarse levels, for every metric; full resolution
// always takes the minimum score itself.
// The coarse levels score lower than full resolution, and the top level most: its quantised
// score counts only points that fall on a pixel of agreeing direction, and on a level 8 or 16
// times coarser than the image the rounding of the posed points and the resampling of the
// pyramid move an instance's edges by up to a pixel. For finely textured models (print,
// engraving, knurling, photos) and for occluded instances the top-level score was measured at
// 0.51-0.6 of the full-resolution score in the worst cases (0.75-0.85 typically), so the top
// level keeps candidates down to 0.55 of the minimum score; a factor of 0.9 there lost instances
// that score 0.85-0.95 at full resolution. The levels in between score with the same dot
// products as full resolution and keep 0.9: factors of 1 below the top lost a quarter of the
// instances of photo scenes, 0.9 lost none.
inline constexpr float kTopLevelScoreFactor = 0.55f;
inline constexpr float kInnerLevelScoreFactor = 0.9f;

// Minimum score of each level: full resolution takes min_score, the top level min_score times
// kTopLevelScoreFactor and the levels between min_score times kInnerLevelScoreFactor, whatever
// the metric; a single-level search takes 0.9 * min_score there (its matches are filtered at
// min_score at the end). Coarse levels must not lose what full resolution would accept: a
// polarity-free model (metric 0) loses as much texture detail on them as any other, so it takes
// the same factors.
std::vector<float> level_min_scores(float min_score, int levels_used);

// The minimum contrast a search uses: the model's value, or 1 when it is below 2.
int search_min_contrast(int model_min_contrast);

// The stop flag shared by an export and its parallel loop bodies.
class StopFlag {
public:
    bool is_set() const { return flag_.load(std::memory_order_relaxed); }
    void set() { flag_.exchange(true); }
    // Sets the flag when the time-out has passed; returns whether the flag is set now.
    bool check(const Stopwatch& sw, int timeout_ms) {
        if (timed_out(sw, timeout_ms)) set();
        return is_set();
    }

private:
    std::atomic<bool> flag_{false};
};

// Brings a refined angle back into the search window [start, start + extent]. On a level above
// the last (`margin_steps` = 1) the window is widened by one angle step on each side; on the last
// level (0) it is exact. An angle outside goes to the nearer end (the start on a tie).
float clamp_angle_to_window(float angle, float start, float extent, float step, int margin_steps);

// Moves candidates found on level `last` back to full resolution: positions and sub-pixel parts
// times 2^last. With `drop_below_min` set, candidates scoring below min_score are removed first.
void scale_back_to_full_resolution(std::vector<Match>& cands, int last, float min_score,
                                   bool drop_below_min);

// Hands the first min(num_matches, size) candidates (all when num_matches <= 0) out as one
// registered malloc'd array (kind 0), with scale_col = scale_row and model_id set (unless
// `keep_model_ids`). Returns the handle, 0 with nothing to hand out, -1 when the array cannot be
// allocated (results then null). `count` receives the number of matches.
int hand_out_matches(const std::vector<Match>& cands, int num_matches, int model_id,
                     bool keep_model_ids, Match*& results, int& count);

// Normal maps of all levels: the largest buffers of a search.
struct NormalMaps {
    std::vector<cv::Mat> nx;
    std::vector<cv::Mat> ny;
};

// Releases the maps on a detached thread so the export can return without paying for it. If no
// thread can be started they are released on the calling thread. Never throws.
void release_in_background(NormalMaps&& maps);

// Blocks until every background release has finished (also runs when the library unloads).
void wait_for_search_cleanup();

}  // namespace quro

#endif  // QURO_SEARCH_SEARCH_FRAME_H
