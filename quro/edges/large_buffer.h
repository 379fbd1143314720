// An uninitialised array for the per-pixel maps of one detector run. Large arrays are aligned to
// 2 MiB and marked for transparent huge pages, so that filling a fresh map of several megabytes
// takes a few page faults instead of one per 4 KiB (which cost a 1024 x 1024 run several
// milliseconds); the kernel may ignore the advice, and nothing else changes.
#ifndef QURO_EDGES_LARGE_BUFFER_H
#define QURO_EDGES_LARGE_BUFFER_H

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace quro {

template <class T>
class LargeBuffer {
public:
    LargeBuffer() = default;
    // Throws std::bad_alloc when the memory is not there.
    explicit LargeBuffer(std::size_t n) {
        constexpr std::size_t kHuge = std::size_t{2} << 20;
        if (n > (~std::size_t{0} - kHuge) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= kHuge) {
            const std::size_t rounded = (bytes + kHuge - 1) & ~(kHuge - 1);
            void* p = nullptr;
            if (posix_memalign(&p, kHuge, rounded) != 0) throw std::bad_alloc();
            madvise(p, rounded, MADV_HUGEPAGE);
            data_ = static_cast<T*>(p);
        } else {
            data_ = static_cast<T*>(std::malloc(bytes == 0 ? 1 : bytes));
            if (data_ == nullptr) throw std::bad_alloc();
        }
    }
    ~LargeBuffer() { std::free(data_); }
    LargeBuffer(LargeBuffer&& o) noexcept : data_(o.data_) { o.data_ = nullptr; }
    LargeBuffer& operator=(LargeBuffer&& o) noexcept {
        if (this != &o) {
            std::free(data_);
            data_ = o.data_;
            o.data_ = nullptr;
        }
        return *this;
    }
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    T* get() const { return data_; }
    T& operator[](std::size_t i) const { return data_[i]; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    T* data_ = nullptr;
};

}  // namespace quro

#endif  // QURO_EDGES_LARGE_BUFFER_H
