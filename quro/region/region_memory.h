// How region code gets memory and reports failing to get it: the region's one error, the guard
// that turns any other failure of an operator into it, and the allocation of run and part arrays.
#ifndef QURO_REGION_REGION_MEMORY_H
#define QURO_REGION_REGION_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quro {

// The region's error: a std::runtime_error with the message "malloc failed" or "realloc failed".
// Its own type, so that region_guarded tells it from other runtime errors.
class RegionMemoryError final : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void throw_malloc_failed() { throw RegionMemoryError("malloc failed"); }
[[noreturn]] inline void throw_realloc_failed() { throw RegionMemoryError("realloc failed"); }

// Runs an operator's body so that only the region's error leaves it: RegionMemoryError passes,
// any other exception (std::bad_alloc, a failure to start threads) becomes "malloc failed".
template <class F>
void region_guarded(F&& body) {
    try {
        body();
    } catch (const RegionMemoryError&) {
        throw;
    } catch (...) {
        throw_malloc_failed();
    }
}

// A new malloc'd block of n entries (null for n <= 0) holding the first `copy` entries of `src`.
// Null on failure, with `failed` set (it is never cleared, so one flag can follow several blocks).
template <class T>
T* allocate_copy(const T* src, std::int64_t n, std::int64_t copy, bool& failed) {
    if (n <= 0) return nullptr;
    T* p = static_cast<T*>(std::malloc(static_cast<std::size_t>(n) * sizeof(T)));
    if (p == nullptr) {
        failed = true;
        return nullptr;
    }
    if (copy > 0) std::memcpy(p, src, static_cast<std::size_t>(copy) * sizeof(T));
    return p;
}

}  // namespace quro

#endif  // QURO_REGION_REGION_MEMORY_H
