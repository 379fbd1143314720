// The region class's growth and conversion members, built on the buffer rules: reserving and
// doubling the run arrays, and converting between the run arrays and the chord array.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "quro/parallel.h"
#include "quro/quro.h"
#include "quro/region/region_buffers.h"

namespace quro {
namespace {

// Run-to-chord copies are cut into blocks of this many runs; fewer runs are copied inline.
constexpr RangeCut kCopyCut{4096, 4096};

}  // namespace

void region::reserve(int n) { region_guarded([&] { grow_capacity(*this, n); }); }

void region::expand() {
    region_guarded([&] {
        const std::int64_t n = std::max<std::int64_t>(1, 2 * static_cast<std::int64_t>(run_capacity));
        grow_capacity(*this, n);
    });
}

void region::to_1() {
    if (num_runs <= 0) return;
    region_guarded([&] {
        make_sole_owner(*this, true);
        const std::size_t bytes = static_cast<std::size_t>(num_runs) * sizeof(chord);
        void* array = std::realloc(chords, bytes);
        if (array == nullptr) {
            if (chords == nullptr) throw_malloc_failed();
            throw_realloc_failed();
        }
        chords = static_cast<chord*>(array);
        num_chords = num_runs;
        parallel_for_ranges(static_cast<std::size_t>(num_runs), kCopyCut,
                            [&](std::size_t begin, std::size_t end) {
                                for (std::size_t i = begin; i != end; ++i)
                                    chords[i] = chord(col_begins[i], col_ends[i], rows[i]);
                            });
    });
}

void region::to_3() {
    region_guarded([&] {
        make_sole_owner(*this, false);
        grow_capacity(*this, num_chords);
        num_runs = num_chords > 0 ? num_chords : 0;
        parallel_for_ranges(static_cast<std::size_t>(num_runs), kCopyCut,
                            [&](std::size_t begin, std::size_t end) {
                                for (std::size_t i = begin; i != end; ++i) {
                                    rows[i] = chords[i].row;
                                    col_begins[i] = chords[i].col_begin;
                                    col_ends[i] = chords[i].col_end;
                                }
                            });
    });
}

}  // namespace quro
