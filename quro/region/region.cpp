// The region class: construction, sharing through the reference count, and release by the last
// copy. The buffer rules the operators share are built on it (region_buffers.h), and the growth
// and conversion members on them (region_growth.cpp).
#include <cstdlib>
#include <new>

#include "quro/quro.h"
#include "quro/region/region_memory.h"

namespace quro {
namespace {

constexpr int kDefaultRunCapacity = 2000;

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

}  // namespace

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
    rows = allocate_copy<int>(nullptr, n, 0, failed);
    col_begins = allocate_copy<int>(nullptr, n, 0, failed);
    col_ends = allocate_copy<int>(nullptr, n, 0, failed);
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

void region::update(int n) { run_capacity = n; }

}  // namespace quro
