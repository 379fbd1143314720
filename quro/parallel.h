// The library's parallel loops over an index range: oneTBB's parallel_for with the automatic
// partitioner. A range of one item (or one grain) runs its body directly on the calling thread
// and an empty range runs nothing. TBB's workers sleep when idle, so a loaded machine does not
// lose time to threads spinning between loops.
#ifndef QURO_PARALLEL_H
#define QURO_PARALLEL_H

#include <cstddef>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

namespace quro {

template <class Body>
void parallel_for_index(std::size_t n, const Body& body) {
    if (n == 0) return;
    if (n == 1) {
        body(std::size_t{0});
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, n),
        [&](const tbb::blocked_range<std::size_t>& r) {
            for (std::size_t i = r.begin(); i != r.end(); ++i) body(i);
        },
        tbb::auto_partitioner());
}

// Runs body(begin, end) over consecutive sub-ranges of [0, n) that cover it once, in parallel,
// for loops whose body keeps state along a run of indices (e.g. rows cached for the next row).
// Sub-ranges hold at most `grain` indices (and at least about half that); a range of at most one
// grain runs inline as body(0, n). An exception from a body reaches the caller.
template <class Body>
void parallel_for_runs(std::size_t n, std::size_t grain, const Body& body) {
    if (n == 0) return;
    if (grain == 0 || n <= grain) {
        body(std::size_t{0}, n);
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, n, grain),
        [&](const tbb::blocked_range<std::size_t>& r) { body(r.begin(), r.end()); },
        tbb::auto_partitioner());
}

}  // namespace quro

#endif  // QURO_PARALLEL_H
