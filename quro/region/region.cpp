// The region class: construction, sharing through the reference count, and the growth and
// conversion members. The buffer rules the operators share (growth, sole ownership, releasing
// parts) live here too, beside the members that use them.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "quro/parallel.h"
#include "quro/quro.h"
#include "quro/region/region_buffers.h"

namespace quro {
namespace {

constexpr int kDefaultRunCapacity = 2000;

// Run-to-chord copies are cut into blocks of this many runs; fewer runs are copied inline.
constexpr RangeCut kCopyCut{4096, 4096};

// Frees every buffer of r; only for the last copy.
void free_buffers(region& r) noexcept {
    std::free(r.rows);
    std::free(r.col_begins);
    std::free(r.col_ends);
    std::free(r.chords);
    for (int i = 0; i < r.num_parts; ++i) delete r.parts[i];
    std::free(r.parts);
    delete r.refcount;
}

// Drops r's share of its buffers; the last copy frees them.
void drop_reference(region& r) noexcept {
    if (--*r.refcount == 0) free_buffers(r);
}

// Copies every field of `from` into `to`: the buffers become shared (the count is the caller's).
void share_fields(region& to, const region& from) noexcept {
    to.num_runs = from.num_runs;
    to.rows = from.rows;
    to.col_begins = from.col_begins;
    to.col_ends = from.col_ends;
    to.row1 = from.row1;
    to.col1 = from.col1;
    to.row2 = from.row2;
    to.col2 = from.col2;
    to.rect_x = from.rect_x;
    to.rect_y = from.rect_y;
    to.rect_angle = from.rect_angle;
    to.rect_len1 = from.rect_len1;
    to.rect_len2 = from.rect_len2;
    to.ellipse_ra = from.ellipse_ra;
    to.ellipse_rb = from.ellipse_rb;
    to.ellipse_angle = from.ellipse_angle;
    to.chords = from.chords;
    to.num_chords = from.num_chords;
    to.area = from.area;
    to.centroid_x = from.centroid_x;
    to.centroid_y = from.centroid_y;
    to.circularity = from.circularity;
    to.width = from.width;
    to.height = from.height;
    to.num_parts = from.num_parts;
    to.parts = from.parts;
    to.refcount = from.refcount;
    to.run_capacity = from.run_capacity;
}

// Copies n entries of `src` into a new malloc'd block (null for n <= 0). Null on failure, with
// `failed` set.
template <class T>
T* duplicate(const T* src, std::int64_t n, std::int64_t copy, bool& failed) {
    if (n <= 0) return nullptr;
    T* p = static_cast<T*>(std::malloc(static_cast<std::size_t>(n) * sizeof(T)));
    if (p == nullptr) {
        failed = true;
        return nullptr;
    }
    if (copy > 0) std::memcpy(p, src, static_cast<std::size_t>(copy) * sizeof(T));
    return p;
}

}  // namespace

void throw_malloc_failed() { throw RegionMemoryError("malloc failed"); }
void throw_realloc_failed() { throw RegionMemoryError("realloc failed"); }

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
    int* rows = duplicate(r.rows, capacity, kept_runs, failed);
    int* begins = duplicate(r.col_begins, capacity, kept_runs, failed);
    int* ends = duplicate(r.col_ends, capacity, kept_runs, failed);
    chord* chords = duplicate(r.chords, r.num_chords, r.num_chords, failed);
    region** parts = duplicate<region*>(nullptr, r.num_parts, 0, failed);
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

region::region() : region(kDefaultRunCapacity) {}

region::region(int n)
    : num_runs(0), rows(nullptr), col_begins(nullptr), col_ends(nullptr), row1(-1), col1(-1),
      row2(-1), col2(-1), rect_x(-1.0), rect_y(-1.0), rect_angle(-1.0), rect_len1(-1.0),
      rect_len2(-1.0), ellipse_ra(-1.0), ellipse_rb(-1.0), ellipse_angle(-1.0), chords(nullptr),
      num_chords(0), area(-1), centroid_x(-1.0), centroid_y(-1.0), circularity(-1.0), width(-1),
      height(-1), num_parts(0), parts(nullptr), refcount(nullptr), run_capacity(0) {
    bool failed = false;
    refcount = new (std::nothrow) int(1);
    failed = refcount == nullptr;
    rows = duplicate<int>(nullptr, n, 0, failed);
    col_begins = duplicate<int>(nullptr, n, 0, failed);
    col_ends = duplicate<int>(nullptr, n, 0, failed);
    if (failed) {
        std::free(rows);
        std::free(col_begins);
        std::free(col_ends);
        delete refcount;
        throw_malloc_failed();
    }
    run_capacity = n > 0 ? n : 0;
}

region::region(const region& o) {
    share_fields(*this, o);
    ++*refcount;
}

region& region::operator=(const region& o) {
    if (this == &o) return *this;
    ++*o.refcount;
    drop_reference(*this);
    share_fields(*this, o);
    return *this;
}

region::~region() { drop_reference(*this); }

int region::capacity() const { return run_capacity; }

void region::reserve(int n) { region_guarded([&] { grow_capacity(*this, n); }); }

void region::expand() {
    region_guarded([&] {
        const std::int64_t n = std::max<std::int64_t>(1, 2 * static_cast<std::int64_t>(run_capacity));
        grow_capacity(*this, n);
    });
}

void region::update(int n) { run_capacity = n; }

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
