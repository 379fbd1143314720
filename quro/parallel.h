// The library's parallel loops over an index range: oneTBB's parallel_for with the automatic
// partitioner. A range below its serial threshold runs its body directly on the calling thread
// and an empty range runs nothing. TBB's workers sleep when idle, so a loaded machine does not
// lose time to threads spinning between loops. Every loop the library owns goes through these
// helpers; all of them write disjoint outputs, so how a range is cut never changes a result.
#ifndef QURO_PARALLEL_H
#define QURO_PARALLEL_H

#include <cstddef>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

namespace quro {

// How a range is cut: a range of fewer than `serial_below` indices runs inline as one call; a
// larger one is cut into sub-ranges, and a sub-range is cut again only while it holds more than
// `grain` indices (so none holds fewer than about half of grain).
struct RangeCut {
    std::size_t serial_below = 2;
    std::size_t grain = 1;
};

// Runs body(begin, end) over consecutive sub-ranges of [0, n) that cover it once, in parallel,
// for loops whose body keeps state along a run of indices (rows cached for the next row, scratch
// buffers) or is too light to be called per index. An exception from a body reaches the caller.
template <class Body>
void parallel_for_ranges(std::size_t n, RangeCut cut, const Body& body) {
    if (n == 0) return;
    if (n < cut.serial_below || n == 1) {
        body(std::size_t{0}, n);
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, n, cut.grain == 0 ? 1 : cut.grain),
        [&](const tbb::blocked_range<std::size_t>& r) { body(r.begin(), r.end()); },
        tbb::auto_partitioner());
}

// Runs body(i) for every i in [0, n); a range of one item runs inline.
template <class Body>
void parallel_for_index(std::size_t n, const Body& body) {
    parallel_for_ranges(n, RangeCut{}, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i != end; ++i) body(i);
    });
}

}  // namespace quro

#endif  // QURO_PARALLEL_H
