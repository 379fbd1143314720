// Keeps exceptions inside the library: every export body runs through one of these wrappers,
// which turn any exception (OpenCV errors, std::bad_alloc, archive errors) into the export's
// documented failure value.
#ifndef QURO_EXPORT_GUARD_H
#define QURO_EXPORT_GUARD_H

#include <utility>

namespace quro {

template <class R, class F>
R guarded(R failure, F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return failure;
    }
}

template <class F>
void guarded_void(F&& body) noexcept {
    try {
        std::forward<F>(body)();
    } catch (...) {
    }
}

}  // namespace quro

#endif  // QURO_EXPORT_GUARD_H
