// The process-wide registry of blocks handed to callers. Every array an export allocates for its
// caller is registered here under a handle (the lowest free int from 1) and freed only through
// clear_mems(handle), according to the kind recorded with it:
//   0, 3, 4, 5, 6  malloc'd array (matches, bytes, measure results, RRects)   -> free
//   1              one quro::TemplateI created with new                        -> delete
//   2              one quro::TemplateF created with new                        -> delete
//   7              quro::MatchDetails[] created with new[]                     -> delete[]
//   8              quro::Contour[] created with new[]                          -> delete[]
//   9              quro::VectorField[] created with new[]                      -> delete[]
//   other          the entry is forgotten, the block is left alone
#ifndef QURO_RESULT_REGISTRY_H
#define QURO_RESULT_REGISTRY_H

#include <cstddef>

namespace quro {

enum ResultKind : int {
    kResultBytes = 0,        // malloc'd array of quro::Match, or of bytes
    kResultTemplateI = 1,    // new quro::TemplateI
    kResultTemplateF = 2,    // new quro::TemplateF
    kResultMalloc3 = 3,      // malloc'd array (no producer)
    kResultMalloc4 = 4,      // malloc'd array (no producer)
    kResultMeasure = 5,      // malloc'd array of measure results
    kResultRRect = 6,        // malloc'd array of quro::RRect
    kResultDetails = 7,      // new quro::MatchDetails[]
    kResultContours = 8,     // new quro::Contour[]
    kResultFields = 9,       // new quro::VectorField[]
};

struct ResultEntry {
    int count;    // number of elements, or bytes for a byte block
    void* block;
    int kind;
};

// Registers a block and returns its handle (>= 1). May throw std::bad_alloc, in which case
// nothing is registered and the caller still owns the block.
int register_result(int kind, void* block, int count);

// Frees the block of `handle` by its kind and forgets the handle. Returns 0, or -1 for a handle
// of 0 or below or one that is not registered.
int release_result(int handle);

// Copies the entry of `handle` into *out. Returns false for an unknown handle.
bool lookup_result(int handle, ResultEntry* out);

// Number of blocks registered and not yet released (for leak checks).
std::size_t registered_result_count();

}  // namespace quro

#endif  // QURO_RESULT_REGISTRY_H
