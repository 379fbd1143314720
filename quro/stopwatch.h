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

    // A stopwatch on the process's default clock (set_default_stopwatch_clock): the steady clock
    // unless a test has set another.
    Stopwatch();
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

// Sets the clock of every stopwatch built without one from now on (null: the steady clock again),
// so that a test can let the time-out of a whole search or creation pass when it decides
// (testing/test_clock.h). Not for production use: stopwatches already running keep their clock.
void set_default_stopwatch_clock(Stopwatch::Clock clock);

// Whether a time-out in milliseconds has passed; a time-out below 1 never passes.
inline bool timed_out(const Stopwatch& sw, int timeout_ms) {
    return timeout_ms > 0 && sw.elapsed() * 1000.0 > timeout_ms;
}

// A time-out in milliseconds on a stopwatch, as it travels from a search or a creation to its
// stages: passed() once timed_out(*sw, timeout_ms). Without a stopwatch it never passes.
struct Deadline {
    const Stopwatch* sw = nullptr;
    int timeout_ms = 0;

    Deadline() = default;
    Deadline(const Stopwatch& watch, int ms) : sw(&watch), timeout_ms(ms) {}

    bool passed() const { return sw != nullptr && timed_out(*sw, timeout_ms); }
};

// The stop flag shared by an export and its parallel loop bodies.
class StopFlag {
public:
    bool is_set() const { return flag_.load(std::memory_order_relaxed); }
    void set() { flag_.exchange(true); }
    // Sets the flag when the deadline has passed; returns whether the flag is set now.
    bool check(const Deadline& deadline) {
        if (deadline.passed()) set();
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
    Deadline deadline;
    StopFlag* flag = nullptr;

    bool passed() const {
        if (deadline.sw == nullptr) return false;
        return flag != nullptr ? flag->check(deadline) : deadline.passed();
    }
};

}  // namespace quro

#endif  // QURO_STOPWATCH_H
