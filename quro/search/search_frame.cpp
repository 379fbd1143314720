#include "quro/search/search_frame.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include <opencv2/imgproc.hpp>

#include "quro/match/core_tables.h"
#include "quro/numeric.h"
#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {

int check_search_args(const unsigned char* data, int width, int height, float angle_start,
                      float angle_extent, float min_score, float max_overlap) {
    if (data == nullptr || width < 1 || height < 1) return kFailed;
    // NaN fails every comparison, so these reject it too.
    if (!(min_score >= 0.f) || !(max_overlap >= 0.f)) return kFailed;
    if (!std::isfinite(angle_start) || !std::isfinite(angle_extent)) return kFailed;
    if (angle_extent < -1e-6f || angle_extent > kMaxAngleExtent) return kFailed;
    return kOk;
}

bool plan_levels(const int* levels, int num_levels, int subpixel_code, LevelPlan& plan) {
    if (num_levels < 1) return false;
    const int first = levels ? levels[0] : 0;
    const int lowest = levels ? levels[1] : 0;
    plan.levels_used = (first >= 1 && first <= num_levels) ? first : num_levels;
    plan.top = plan.levels_used - 1;
    plan.last = (lowest >= 1 && lowest <= plan.levels_used) ? lowest - 1 : 0;
    const int units = subpixel_code % 10;  // negative for a negative code
    plan.mode = units < 6 ? units : kSubpixelLeastSquares4;
    // Least squares at full resolution: stop one level above it (needs a level in between).
    if (units == kSubpixelLeastSquaresFull && plan.last == 0 && plan.top > 1) plan.last = 1;

    const int L = plan.levels_used;
    plan.cell_values.assign(static_cast<std::size_t>(L), 1);
    plan.cell_values[0] = std::clamp(subpixel_code / 10, 0, 32);
    for (int k = 1; k < L; ++k)
        plan.cell_values[k] = std::max(1, plan.cell_values[k - 1] / 2);

    static constexpr int kGridSizes[21] = {2, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6,
                                           6, 6, 6, 6, 7, 7, 7, 7, 7, 7};
    plan.grid_sizes.assign(static_cast<std::size_t>(L), 0);
    int k = 0;
    for (int level = plan.top; level >= 0; --level)
        if (plan.cell_values[level] > 1) plan.grid_sizes[level] = kGridSizes[std::min(k++, 20)];
    return true;
}

std::vector<cv::Mat> build_search_pyramid(const unsigned char* data, int width, int height,
                                          int levels_used) {
    std::vector<cv::Mat> pyr(static_cast<std::size_t>(std::max(levels_used, 0)));
    if (pyr.empty()) return pyr;
    pyr[0] = cv::Mat(height, width, CV_8UC1, const_cast<unsigned char*>(data));
    for (std::size_t k = 1; k < pyr.size(); ++k)
        cv::pyrDown(pyr[k - 1], pyr[k], cv::Size(), cv::BORDER_REFLECT101);
    return pyr;
}

std::vector<cv::Mat> build_mask_pyramid(const unsigned char* mask, int width, int height,
                                        int levels_used) {
    std::vector<cv::Mat> pyr;
    if (mask == nullptr || levels_used < 1) return pyr;
    const cv::Mat full(height, width, CV_8UC1, const_cast<unsigned char*>(mask));
    // A mask without a 0 hides nothing on either level (halving values of at least 1 gives at
    // least 1), so it is treated as no mask.
    if (cv::countNonZero(full) == full.rows * full.cols) return pyr;
    pyr.resize(static_cast<std::size_t>(levels_used));
    pyr[0] = full;
    if (levels_used > 1) cv::pyrDown(pyr[0], pyr[1], cv::Size(), cv::BORDER_REFLECT101);
    return pyr;
}

std::vector<float> level_min_scores(float min_score, int levels_used) {
    std::vector<float> s(static_cast<std::size_t>(std::max(levels_used, 0)), min_score);
    if (s.empty()) return s;
    const int top = levels_used - 1;
    s[top] = static_cast<float>(static_cast<double>(min_score) * 0.9);
    const auto& factors = core_tables().level_score_multipliers;
    for (int n = top; n >= 1; --n) {
        const std::size_t i = std::min<std::size_t>(top - n, factors.size() - 1);
        s[n] = min_score * factors[i];
    }
    return s;
}

int search_min_contrast(int model_min_contrast) {
    return model_min_contrast < 2 ? 1 : model_min_contrast;
}

float clamp_angle_to_window(float angle, float start, float extent, float step, int margin_steps) {
    const float m = static_cast<float>(margin_steps);
    const float a = wrap_angle_360(angle - (start - m * step));
    if (std::isnan(a)) return start;
    if (a > extent + 2.f * m * step) {
        const float to_start = std::fabs(wrap_angle_180(angle - start));
        const float to_end = std::fabs(wrap_angle_180(angle - (start + extent)));
        return to_end < to_start ? start + extent : start;
    }
    return start - m * step + a;
}

void scale_back_to_full_resolution(std::vector<Match>& cands, int last, float min_score,
                                   bool drop_below_min) {
    if (drop_below_min)
        cands.erase(std::remove_if(cands.begin(), cands.end(),
                                   [&](const Match& m) { return !(m.score >= min_score); }),
                    cands.end());
    if (last <= 0) return;
    const float f = static_cast<float>(1 << last);
    for (Match& m : cands) {
        m.x <<= last;
        m.y <<= last;
        m.dx *= f;
        m.dy *= f;
    }
}

int hand_out_matches(const std::vector<Match>& cands, int num_matches, int model_id,
                     bool keep_model_ids, Match*& results, int& count) {
    std::size_t n = cands.size();
    if (num_matches > 0 && static_cast<std::size_t>(num_matches) < n)
        n = static_cast<std::size_t>(num_matches);
    if (n > static_cast<std::size_t>(std::numeric_limits<int>::max())) n = 0;
    count = static_cast<int>(n);
    if (n == 0) return 0;
    auto* block = static_cast<Match*>(std::malloc(n * sizeof(Match)));
    if (block == nullptr) {
        results = nullptr;
        count = 0;
        return kFailed;
    }
    std::memcpy(block, cands.data(), n * sizeof(Match));
    for (std::size_t i = 0; i < n; ++i) {
        block[i].scale_col = block[i].scale_row;
        if (!keep_model_ids) block[i].model_id = model_id;
    }
    int handle;
    try {
        handle = register_result(kResultBytes, block, static_cast<int>(n));
    } catch (...) {
        std::free(block);
        results = nullptr;
        count = 0;
        return kFailed;
    }
    results = block;
    return handle;
}

// ---- background release of normal maps ----------------------------------------------------------

namespace {

struct CleanupState {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
};

CleanupState& cleanup_state() {
    static CleanupState* s = new CleanupState;  // never destroyed: threads may outlive statics
    return *s;
}

// Waits for the release threads when the library unloads, so no thread touches freed memory and
// leak checkers see every buffer released.
struct CleanupDrain {
    ~CleanupDrain() { wait_for_search_cleanup(); }
};
CleanupDrain g_drain_at_unload;

}  // namespace

void release_in_background(NormalMaps&& maps) {
    std::unique_ptr<NormalMaps> owned;
    try {
        owned = std::make_unique<NormalMaps>(std::move(maps));
    } catch (...) {
        NormalMaps doomed(std::move(maps));  // no memory for the hand-over: release here
        return;
    }
    CleanupState& st = cleanup_state();
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        ++st.running;
    }
    try {
        NormalMaps* raw = owned.get();
        std::thread([raw] {
            delete raw;
            CleanupState& s = cleanup_state();
            std::lock_guard<std::mutex> lock(s.mutex);
            if (--s.running == 0) s.idle.notify_all();
        }).detach();
        owned.release();
    } catch (...) {
        // No thread: free here (owned still holds the maps).
        owned.reset();
        std::lock_guard<std::mutex> lock(st.mutex);
        if (--st.running == 0) st.idle.notify_all();
    }
}

void wait_for_search_cleanup() {
    CleanupState& st = cleanup_state();
    std::unique_lock<std::mutex> lock(st.mutex);
    st.idle.wait(lock, [&] { return st.running == 0; });
}

}  // namespace quro
