// The buffer rules every region operator follows, named once: how run arrays grow, how a region
// whose buffers other copies share gets buffers of its own before it changes them, how parts are
// released. The region's error and the guard every operator runs in come with it
// (region_memory.h).
#ifndef QURO_REGION_REGION_BUFFERS_H
#define QURO_REGION_REGION_BUFFERS_H

#include <cstdint>

#include "quro/quro.h"
#include "quro/region/region_memory.h"

namespace quro {

// Makes room for writing run i: when i >= capacity, the capacity doubles until it exceeds i (a
// capacity of 0 becomes i + 1) and the three run arrays are reallocated ("realloc failed", also
// when the new capacity would pass INT_MAX). Runs 0 .. num_runs - 1 are kept. A region sharing
// its buffers gets its own first, so no other copy loses its arrays.
void grow_to(region& r, std::int64_t i);

// Reallocates the three run arrays to n entries when the capacity is below n; the capacity is set
// only once all three succeeded, and a failed array keeps its old pointer ("realloc failed").
void grow_capacity(region& r, std::int64_t n);

// When r shares its buffers with other copies (count above 1): gives r private copies of its chord
// array and parts (each part a new region sharing the old part's buffers) and private run arrays
// of the same capacity, holding a copy of the runs when keep_contents, else no runs (num_runs 0).
// r then has a count of 1 of its own and the other copies keep the old buffers and count. Nothing
// is changed when an allocation fails ("malloc failed"). Nothing happens for a sole owner.
void make_sole_owner(region& r, bool keep_contents);

// Replaces r's run arrays by `from`'s, which gives them up (null arrays, capacity 0, no runs); r
// takes from's runs and capacity. r's old run arrays are released through the reference count:
// freed when r was their only holder, otherwise left to the copies still sharing them (r then gets
// buffers of its own as make_sole_owner gives them). Nothing changes when that fails ("malloc
// failed"). For an operator that built its result beside arrays it was still reading.
void install_run_arrays(region& r, region& from);

// Releases r's parts (each deleted, the array freed) and sets num_parts to 0, after making r the
// sole owner of its buffers.
void release_parts(region& r);

}  // namespace quro

#endif  // QURO_REGION_REGION_BUFFERS_H
