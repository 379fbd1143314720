#include "quro/stopwatch.h"

namespace quro {
namespace {

std::atomic<Stopwatch::Clock>& default_clock() {
    static std::atomic<Stopwatch::Clock> clock{nullptr};
    return clock;
}

}  // namespace

Stopwatch::Stopwatch() {
    const Clock set = default_clock().load(std::memory_order_relaxed);
    clock_ = set != nullptr ? set : steady_ns;
    lap_start_ = clock_();
    start_ = lap_start_;
}

void set_default_stopwatch_clock(Stopwatch::Clock clock) {
    default_clock().store(clock, std::memory_order_relaxed);
}

}  // namespace quro
