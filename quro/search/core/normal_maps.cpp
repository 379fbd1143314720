#include "quro/search/core/normal_maps.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace quro {

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
