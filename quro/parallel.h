// The library's parallel loop over an index range: oneTBB's parallel_for with the automatic
// partitioner. A range of one item runs its body directly on the calling thread and an empty range
// runs nothing.
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

}  // namespace quro

#endif  // QURO_PARALLEL_H
