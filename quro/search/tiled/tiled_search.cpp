#include "quro/search/tiled/tiled_search.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "quro/match/library_start.h"
#include "quro/model_table.h"
#include "quro/result_registry.h"
#include "quro/search/multi/multi_search.h"
#include "quro/search/single/rigid_search.h"
#include "quro/search/core/search_export.h"
#include "quro/search/tiled/tile_merge.h"
#include "quro/settings.h"
#include "quro/status.h"
#include "quro/stopwatch.h"

namespace quro {

namespace {

// "print_time" is off while a tiled search runs and on again however it returns.
class PrintTimeOff {
public:
    PrintTimeOff() { set_print_time(false); }
    ~PrintTimeOff() { set_print_time(true); }
    PrintTimeOff(const PrintTimeOff&) = delete;
    PrintTimeOff& operator=(const PrintTimeOff&) = delete;
};

// Releases a registered block when it goes out of scope.
class HandleRelease {
public:
    explicit HandleRelease(int handle) : handle_(handle) {}
    ~HandleRelease() {
        if (handle_ > 0) release_result(handle_);
    }
    HandleRelease(const HandleRelease&) = delete;
    HandleRelease& operator=(const HandleRelease&) = delete;

private:
    int handle_;
};

struct TileOutcome {
    int rc = kOk;
    std::vector<Match> matches;  // in image coordinates
};

// Copies tile t (row-major over the grid) out of the image, searches the copy and takes its
// matches into image coordinates; the tile's block is released before this returns.
TileOutcome search_tile(const SearchRequest& req, const TileGrid& grid, std::size_t t,
                        const TileSearch& search, StoredRange range) {
    const std::size_t columns = grid.columns.start.size();
    const int x0 = grid.columns.start[t % columns], x1 = grid.columns.end[t % columns];
    const int y0 = grid.rows.start[t / columns], y1 = grid.rows.end[t / columns];
    const int w = x1 - x0, h = y1 - y0;
    // Every byte is copied over, so the buffer is not cleared first.
    const auto tile = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(w) *
                                                                      static_cast<std::size_t>(h));
    for (int y = y0; y < y1; ++y)
        std::memcpy(
            tile.get() + static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(w),
            req.data + static_cast<std::size_t>(y) * static_cast<std::size_t>(req.width) + x0,
            static_cast<std::size_t>(w));
    SearchRequest part = req;
    part.data = tile.get();
    part.width = w;
    part.height = h;
    part.num_matches = 0;
    Match* res = nullptr;
    int count = 0;
    TileOutcome out;
    out.rc = search(part, range, res, count);
    const HandleRelease release(out.rc);
    if (out.rc > 0) {
        out.matches.assign(res, res + count);
        for (Match& m : out.matches) {
            m.x += x0;
            m.y += y0;
        }
    }
    return out;
}

TileOutcome search_tile_guarded(const SearchRequest& req, const TileGrid& grid, std::size_t t,
                                const TileSearch& search, StoredRange range) noexcept {
    try {
        return search_tile(req, grid, t, search, range);
    } catch (...) {
        TileOutcome failed;
        failed.rc = kFailed;
        return failed;
    }
}

// Searches tiles 1..n-1 on up to `workers` threads (the calling one among them). A failed tile
// stops the others from taking new tiles. Returns false when a tile failed.
bool search_other_tiles(const SearchRequest& req, const TiledRun& run, const TileSearch& search,
                        std::vector<TileOutcome>& outcomes, int workers) {
    std::atomic<std::size_t> next{1};
    std::atomic<bool> failed{false};
    const auto work = [&]() noexcept {
        while (!failed.load()) {
            const std::size_t t = next.fetch_add(1);
            if (t >= outcomes.size()) return;
            if (run.out_of_time && run.out_of_time()) {
                failed.store(true);
                return;
            }
            outcomes[t] = search_tile_guarded(req, run.grid, t, search, StoredRange::kLeave);
            if (outcomes[t].rc < 0) failed.store(true);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (...) {
            break;  // no thread to spare: the ones running share the tiles
        }
    }
    work();
    for (std::thread& th : threads) th.join();
    return !failed.load();
}

}  // namespace

int tile_search_workers() {
    // With a core to spare, at least two: one thread copies its next tile while the other's
    // search runs.
    const int hw = static_cast<int>(std::thread::hardware_concurrency());
    return hw < 2 ? 1 : std::clamp(hw / 4, 2, 4);
}

int run_tiled_search(const SearchRequest& req, const TiledRun& run, const TileSearch& search,
                     Match*& results, int& count) {
    count = 0;
    const std::size_t tiles = run.grid.columns.start.size() * run.grid.rows.start.size();
    std::vector<TileOutcome> outcomes(tiles);
    // The first tile checks the arguments and stores the angle range, as a search of the whole
    // image would; the others then only read the models and may run at once.
    outcomes[0] = search_tile_guarded(req, run.grid, 0, search, StoredRange::kWrite);
    if (outcomes[0].rc < 0) return kFailed;
    const int threads = run.workers > 0 ? run.workers : tile_search_workers();
    const int workers =
        static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), tiles - 1));
    if (tiles > 1 && !search_other_tiles(req, run, search, outcomes, workers)) return kFailed;

    std::size_t total = 0;
    for (const TileOutcome& o : outcomes) total += o.matches.size();
    std::vector<Match> merged;
    merged.reserve(total);
    for (TileOutcome& o : outcomes) {
        merged.insert(merged.end(), o.matches.begin(), o.matches.end());
        std::vector<Match>().swap(o.matches);
    }
    merge_tile_matches(merged, run.distance);
    return hand_out_matches(merged, req.num_matches, run.model_id, run.out, results, count);
}

namespace {

// What the grid and the whole call's time-out need of the searched models.
struct TiledModels {
    int width = 0, height = 0;  // the largest full-resolution size
    int levels = 1;             // the most pyramid levels
    int timeout_ms = 0;         // the largest time-out; below 1 (no limit) only when all are
};

void add_model(int id, TiledModels& m) {
    const auto rec = find_shape_model_record(id);
    if (!rec || rec->level_widths.empty() || rec->level_heights.empty()) return;
    m.width = std::max(m.width, rec->level_widths.front());
    m.height = std::max(m.height, rec->level_heights.front());
    m.levels = std::max(m.levels, rec->num_levels);
    m.timeout_ms = std::max(m.timeout_ms, rec->timeout_ms);
}

// Plans the grid for the models and starts the whole call's clock: the tiles stop being taken
// once the models' time-out has passed since the call began.
void plan_run(const SearchRequest& req, const int* tile_params, const TiledModels& m,
              float distance, TiledRun& run) {
    run.grid = plan_tile_grid(req.width, req.height, read_tile_params(tile_params), m.width,
                              m.height, m.levels);
    run.distance = duplicate_distance(distance);
    if (m.timeout_ms > 0)
        run.out_of_time = [watch = std::make_shared<const Stopwatch>(), t = m.timeout_ms] {
            return timed_out(*watch, t);
        };
}

}  // namespace

int find_shape_model_xl_impl(const SearchRequest& req, const int* tile_params, int model_id,
                             float distance, Match*& results, int& count, int workers) {
    ensure_library_started();
    if (!find_shape_model_record(model_id)) return kFailed;
    TiledModels m;
    add_model(model_id, m);
    if (m.width <= 0 || m.height <= 0) return kNoModelSize;
    TiledRun run;
    plan_run(req, tile_params, m, distance, run);
    run.model_id = model_id;
    run.workers = workers;
    return run_tiled_search(
        req, run,
        [model_id](const SearchRequest& tile, StoredRange range, Match*& res, int& n) {
            return find_shape_model_impl(tile, model_id, res, n, range);
        },
        results, count);
}

namespace {

int find_shape_models_xl_impl(const SearchRequest& req, const int* tile_params,
                              const int* model_ids, int model_count, const int* levels,
                              float distance, Match*& results, int& count) {
    if (model_ids == nullptr && model_count > 0) return kFailed;
    ensure_library_started();
    TiledModels m;
    for (int i = 0; i < model_count; ++i) add_model(model_ids[i], m);
    if (m.width <= 0 || m.height <= 0) return kNoModelSize;
    TiledRun run;
    plan_run(req, tile_params, m, distance, run);
    run.out.keep_model_ids = true;
    return run_tiled_search(
        req, run,
        [&](const SearchRequest& tile, StoredRange range, Match*& res, int& n) {
            return find_shape_models_impl(tile, model_ids, model_count, levels, res, n, range);
        },
        results, count);
}

// The frame of both exports: count 0 first, the image test, then "print_time" off for the rest
// of the call, and no exception out.
template <class Impl>
int run_tiled_export(const unsigned char* data, int width, int height, int& count, Impl&& impl) {
    count = 0;
    if (data == nullptr || width < 1 || height < 1) return kFailed;
    const PrintTimeOff quiet;
    return run_search_export(count, impl);
}

}  // namespace

}  // namespace quro

extern "C" QURO_API int find_shape_model_xl(unsigned char* data, int width, int height,
                                            int* tile_params, int model_id, float angle_start,
                                            float angle_extent, float min_score, int num_matches,
                                            float max_overlap, int subpixel_code, int* levels,
                                            float greediness, float duplicate_distance,
                                            quro::Match*& results, int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, nullptr);
    return quro::run_tiled_export(data, width, height, count, [&] {
        return quro::find_shape_model_xl_impl(req, tile_params, model_id, duplicate_distance,
                                              results, count);
    });
}

extern "C" QURO_API int find_shape_models_xl(unsigned char* data, int width, int height,
                                             int* tile_params, int* model_ids, int model_count,
                                             float angle_start, float angle_extent, float min_score,
                                             int num_matches, float max_overlap, int subpixel_code,
                                             int* levels, float greediness,
                                             float duplicate_distance, quro::Match*& results,
                                             int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, nullptr, greediness, nullptr);
    return quro::run_tiled_export(data, width, height, count, [&] {
        return quro::find_shape_models_xl_impl(req, tile_params, model_ids, model_count, levels,
                                               duplicate_distance, results, count);
    });
}
