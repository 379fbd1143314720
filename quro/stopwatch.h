// Steady-clock stopwatch for time-outs and timing output. elapsed() is const and lock-free, so
// parallel loop bodies may read one stopwatch concurrently.
#ifndef QURO_STOPWATCH_H
#define QURO_STOPWATCH_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string_view>

namespace quro {

class Stopwatch {
public:
    // Nanoseconds on some monotonic scale.
    using Clock = std::int64_t (*)();

    Stopwatch() : Stopwatch(steady_ns) {}
    // A stopwatch that reads `clock` instead of the steady clock (tests step time by hand).
    explicit Stopwatch(Clock clock) : clock_(clock), lap_start_(clock_()), start_(lap_start_) {}

    // Seconds since the stopwatch started.
    double elapsed() const { return static_cast<double>(now_ns() - start_) / 1e9; }

    // Seconds since the previous lap (or the start); starts a new lap. The label names the lap
    // for the reader of the code only; nothing is printed.
    double lap(std::string_view /*label*/ = {}) {
        const std::int64_t t = now_ns();
        const double s = static_cast<double>(t - lap_start_) / 1e9;
        lap_start_ = t;
        return s;
    }

private:
    static std::int64_t steady_ns() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::int64_t now_ns() const { return clock_(); }

    Clock clock_;
    std::int64_t lap_start_;
    std::int64_t start_;
};

// Whether a time-out in milliseconds has passed; a time-out below 1 never passes.
inline bool timed_out(const Stopwatch& sw, int timeout_ms) {
    return timeout_ms > 0 && sw.elapsed() * 1000.0 > timeout_ms;
}

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

// The time limit handed to a stage that can run for a while (normal maps, direction codes,
// response maps, pyramids, least squares, selection): it asks passed() between pieces of its work
// (bands of rows, candidates) and stops early when it says true. Without a stopwatch nothing
// ever passes. With a flag, a passed limit sets it, and a flag set elsewhere (another loop body
// of the same search) counts as passed too.
struct TimeLimit {
    const Stopwatch* sw = nullptr;
    int timeout_ms = 0;
    StopFlag* flag = nullptr;

    bool passed() const {
        if (sw == nullptr) return false;
        return flag != nullptr ? flag->check(*sw, timeout_ms) : timed_out(*sw, timeout_ms);
    }
};

}  // namespace quro

#endif  // QURO_STOPWATCH_H
