#include "quro/search/core/hand_out.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "quro/numeric.h"
#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {

PoseVec posed_centre_shift(const ShapeModelRecord& rec, const Match& m, int from, int to,
                           bool two_scales) {
    const PoseVec shift = level_centre_shift(rec, from, to);
    if (shift.x == 0.f && shift.y == 0.f) return shift;
    return pose_position(pose_rotation(m.angle), shift.x, shift.y, m.scale_row,
                         two_scales ? m.scale_col : m.scale_row);
}

void move_to_finer_level(std::vector<Match>& cands, int from, int to,
                         const CandidateModels& models) {
    if (from <= to) return;
    const int n = from - to;
    const float f = static_cast<float>(1 << n);
    for (Match& m : cands) {
        m.x <<= n;
        m.y <<= n;
        m.dx *= f;
        m.dy *= f;
        const ShapeModelRecord* rec = models.by_id ? models.by_id(m.model_id) : models.rec;
        if (rec == nullptr) continue;
        const PoseVec posed = posed_centre_shift(*rec, m, from, to, models.two_scales);
        m.dx += posed.x;
        m.dy += posed.y;
    }
}

void scale_back_to_full_resolution(std::vector<Match>& cands, int last, float min_score,
                                   bool drop_below_min, const CandidateModels& models) {
    if (drop_below_min)
        cands.erase(std::remove_if(cands.begin(), cands.end(),
                                   [&](const Match& m) { return !(m.score >= min_score); }),
                    cands.end());
    move_to_finer_level(cands, last, 0, models);
}

float wrap_angle_into_turn(float angle, float start) {
    const float a = start + wrap_angle_360(angle - start);
    // start + a remainder just below 360 can round up to start + 360.
    return std::isnan(a) || a < start + 360.f ? a : start;
}

int hand_out_matches(const std::vector<Match>& cands, int num_matches, int model_id,
                     HandOutOptions options, Match*& results, int& count) {
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
        if (!options.keep_scale_col) block[i].scale_col = block[i].scale_row;
        if (!options.keep_model_ids) block[i].model_id = model_id;
        if (options.angle_extent >= 360.f)
            block[i].angle = wrap_angle_into_turn(block[i].angle, options.angle_start);
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
