// The buffer rules every region operator follows: growth of the run arrays, sole ownership of
// shared buffers, and the release of parts.
#include "quro/region/region_buffers.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "quro/quro.h"
#include "quro/region/region_memory.h"

namespace quro {

void grow_capacity(region& r, std::int64_t n) {
    if (n <= r.run_capacity) return;
    if (n > INT_MAX) throw_realloc_failed();
    make_sole_owner(r, true);
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(int);
    for (int** array : {&r.rows, &r.col_begins, &r.col_ends}) {
        void* grown = std::realloc(*array, bytes);
        if (grown == nullptr) throw_realloc_failed();
        *array = static_cast<int*>(grown);
    }
    r.run_capacity = static_cast<int>(n);
}

void grow_to(region& r, std::int64_t i) {
    if (i < r.run_capacity) return;
    std::int64_t n = r.run_capacity;
    if (n <= 0) {
        n = i + 1;
    } else {
        while (n <= i) n *= 2;
    }
    grow_capacity(r, n);
}

namespace {

// What a region leaving shared buffers does with its run arrays.
enum class RunArrays { keep, empty, drop };

// Gives r a count of its own and private copies of its chord array and parts (each part a new
// region sharing the old part's buffers); the other copies keep the old buffers and count. Run
// arrays: `keep` copies the runs into private arrays of the same capacity, `empty` makes private
// arrays holding no runs, `drop` leaves r without run arrays (null, capacity 0, no runs). Nothing
// changes when an allocation fails ("malloc failed"); nothing happens for a sole owner.
void detach(region& r, RunArrays arrays) {
    if (*r.refcount <= 1) return;
    const int kept_runs =
        arrays == RunArrays::keep ? std::max(0, std::min(r.num_runs, r.run_capacity)) : 0;
    const std::int64_t capacity = arrays == RunArrays::drop ? 0 : r.run_capacity;
    bool failed = false;
    int* count = new (std::nothrow) int(1);
    failed = count == nullptr;
    int* rows = allocate_copy(r.rows, capacity, kept_runs, failed);
    int* begins = allocate_copy(r.col_begins, capacity, kept_runs, failed);
    int* ends = allocate_copy(r.col_ends, capacity, kept_runs, failed);
    chord* chords = allocate_copy(r.chords, r.num_chords, r.num_chords, failed);
    region** parts = allocate_copy<region*>(nullptr, r.num_parts, 0, failed);
    int made_parts = 0;
    for (; !failed && made_parts < r.num_parts; ++made_parts) {
        const region* old = r.parts[made_parts];
        parts[made_parts] = old == nullptr ? nullptr : new (std::nothrow) region(*old);
        failed = old != nullptr && parts[made_parts] == nullptr;
    }
    if (failed) {
        for (int i = 0; i < made_parts; ++i) delete parts[i];
        std::free(parts);
        std::free(chords);
        std::free(ends);
        std::free(begins);
        std::free(rows);
        delete count;
        throw_malloc_failed();
    }
    --*r.refcount;  // above 1, so the other copies keep everything
    r.refcount = count;
    r.rows = rows;
    r.col_begins = begins;
    r.col_ends = ends;
    r.run_capacity = static_cast<int>(capacity);
    r.num_runs = kept_runs;
    r.chords = chords;
    r.parts = parts;
}

}  // namespace

void make_sole_owner(region& r, bool keep_contents) {
    detach(r, keep_contents ? RunArrays::keep : RunArrays::empty);
}

void install_run_arrays(region& r, region& from) {
    if (*r.refcount > 1) {
        detach(r, RunArrays::drop);
    } else {
        std::free(r.rows);
        std::free(r.col_begins);
        std::free(r.col_ends);
    }
    r.rows = std::exchange(from.rows, nullptr);
    r.col_begins = std::exchange(from.col_begins, nullptr);
    r.col_ends = std::exchange(from.col_ends, nullptr);
    r.run_capacity = std::exchange(from.run_capacity, 0);
    r.num_runs = std::exchange(from.num_runs, 0);
}

void release_parts(region& r) {
    if (r.num_parts == 0 && r.parts == nullptr) return;
    make_sole_owner(r, true);
    for (int i = 0; i < r.num_parts; ++i) delete r.parts[i];
    std::free(r.parts);
    r.parts = nullptr;
    r.num_parts = 0;
}

}  // namespace quro
