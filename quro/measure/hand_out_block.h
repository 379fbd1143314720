// Hands a result array of the measuring exports to the caller: one malloc'd block, registered in
// the result registry.
#ifndef QURO_MEASURE_HAND_OUT_BLOCK_H
#define QURO_MEASURE_HAND_OUT_BLOCK_H

#include <cstdlib>
#include <cstring>
#include <vector>

#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {

// Copies `items` (not empty) into a malloc'd block and registers it under `kind` with
// `registered_count` elements. Returns the handle and sets *out, or kFailed with nothing
// registered, nothing allocated and *out unchanged.
template <class T>
int hand_out_block(const std::vector<T>& items, int kind, int registered_count, T** out) {
    T* block = static_cast<T*>(std::malloc(items.size() * sizeof(T)));
    if (block == nullptr) return kFailed;
    std::memcpy(block, items.data(), items.size() * sizeof(T));
    int handle;
    try {
        handle = register_result(kind, block, registered_count);
    } catch (...) {
        std::free(block);
        return kFailed;
    }
    *out = block;
    return handle;
}

}  // namespace quro

#endif  // QURO_MEASURE_HAND_OUT_BLOCK_H
