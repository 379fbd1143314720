// Hands out the lowest free int at or above a base value, and takes values back for reuse.
// Both operations cost O(log n) in the number of values given back and not yet reused.
// Not thread-safe: the owner serialises calls.
#ifndef QURO_LOWEST_FREE_H
#define QURO_LOWEST_FREE_H

#include <set>

namespace quro {

class LowestFreeAllocator {
public:
    explicit LowestFreeAllocator(int base) : base_(base), next_(base) {}

    // The lowest value >= base that is not in use.
    int acquire() {
        if (!released_.empty()) {
            const int v = *released_.begin();
            released_.erase(released_.begin());
            return v;
        }
        return next_++;
    }

    // Gives `v` back; it must have come from acquire() and not been released since.
    void release(int v) {
        if (v == next_ - 1) {
            // Shrink the fresh range, and with it any released values now at its top.
            --next_;
            while (!released_.empty() && *released_.rbegin() == next_ - 1) {
                released_.erase(std::prev(released_.end()));
                --next_;
            }
        } else {
            released_.insert(v);
        }
    }

    // Upper bound (exclusive) of the values handed out so far.
    int high_water() const { return next_; }

private:
    int base_;
    int next_;
    std::set<int> released_;
};

}  // namespace quro

#endif  // QURO_LOWEST_FREE_H
