// Stopwatches whose time the test decides, so that no test of a time-out depends on the machine's
// speed or load: the clock stands at 0 for a given number of readings and then jumps an hour on.
#ifndef QURO_TESTING_TEST_CLOCK_H
#define QURO_TESTING_TEST_CLOCK_H

#include <atomic>
#include <cstdint>

#include "quro/stopwatch.h"

namespace quro_test {

namespace detail {
inline std::atomic<long long> clock_readings_left{0};
inline std::int64_t stepping_clock() {
    constexpr std::int64_t kHourNs = 3'600'000'000'000;
    return clock_readings_left.fetch_sub(1, std::memory_order_relaxed) > 0 ? 0 : kHourNs;
}
inline std::atomic<long long> clock_ticks{0};
inline std::int64_t ticking_clock() {
    return clock_ticks.fetch_add(1, std::memory_order_relaxed) * 1'000'000;
}
}  // namespace detail

// A stopwatch that reads no time passed for `readings` readings after its start and an hour from
// then on: a time-out (of up to an hour) passes at question number readings + 1. The readings of
// all such stopwatches of a process are counted together: use one at a time.
inline quro::Stopwatch stopwatch_expiring_after(int readings) {
    detail::clock_readings_left = readings + 1;  // the start reads the clock too
    return quro::Stopwatch(detail::stepping_clock);
}

// A stopwatch whose every time-out (of up to an hour) has passed.
inline quro::Stopwatch expired_stopwatch() { return stopwatch_expiring_after(0); }

// While it lives, every stopwatch the library starts (a search's, a creation's, a tiled call's)
// reads a clock that moves on one millisecond at every reading by any stopwatch: a time-out of T ms
// passes at the first question more than T readings after the watch started, however fast the
// machine. The steady clock again afterwards. One at a time, like the stopwatches above.
class LibraryClockTicking {
public:
    LibraryClockTicking() { quro::set_default_stopwatch_clock(detail::ticking_clock); }
    ~LibraryClockTicking() { quro::set_default_stopwatch_clock(nullptr); }
    LibraryClockTicking(const LibraryClockTicking&) = delete;
    LibraryClockTicking& operator=(const LibraryClockTicking&) = delete;
};

}  // namespace quro_test

#endif  // QURO_TESTING_TEST_CLOCK_H
