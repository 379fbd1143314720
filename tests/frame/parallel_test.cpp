#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "quro/parallel.h"

namespace {

// Every range is covered once by consecutive sub-ranges; below the serial threshold it is one call
// on the calling thread.
TEST(ParallelForRanges, CoversTheRangeOnceAndRunsSmallRangesInline) {
    const quro::RangeCut cuts[] = {{}, {.serial_below = 64}, {.serial_below = 17, .grain = 16}};
    for (const quro::RangeCut& cut : cuts) {
        for (std::size_t n : {0, 1, 2, 15, 16, 63, 64, 1000, 5000}) {
            std::mutex m;
            std::vector<int> seen(n, 0);
            std::vector<std::pair<std::size_t, std::thread::id>> calls;
            quro::parallel_for_ranges(n, cut, [&](std::size_t b, std::size_t e) {
                ASSERT_LT(b, e);
                for (std::size_t i = b; i < e; ++i) ++seen[i];  // disjoint: no lock needed
                std::lock_guard<std::mutex> lock(m);
                calls.emplace_back(e - b, std::this_thread::get_id());
            });
            EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(n)) << n;
            if (n > 0 && (n < cut.serial_below || n == 1)) {
                ASSERT_EQ(calls.size(), 1u) << n;
                EXPECT_EQ(calls[0].second, std::this_thread::get_id());
            }
        }
    }
}

}  // namespace
