// Hands out the lowest free int at or above a base value, and takes values back for reuse.
// Both operations cost O(log n) in the number of values given back and not yet reused.
// Not thread-safe: the owner serialises calls.
//
// Every change is all or nothing, so an owner never loses a value to an allocation failure:
// take_lowest() and the shrinking branch of release() allocate nothing, and release() builds
// the one node it may need before it changes anything. An owner that adds an entry looks at
// lowest() first, stores its entry (which may throw), and only then takes the value; one that
// removes an entry releases the value first (which may throw) and only then clears its entry.
#ifndef QURO_LOWEST_FREE_H
#define QURO_LOWEST_FREE_H

#include <iterator>
#include <set>

namespace quro {

class LowestFreeAllocator {
public:
    explicit LowestFreeAllocator(int base) : next_(base) {}

    // The value acquire() would hand out next; changes nothing.
    int lowest() const { return released_.empty() ? next_ : *released_.begin(); }

    // Marks lowest() as in use. Never throws.
    void take_lowest() noexcept {
        if (released_.empty())
            ++next_;
        else
            released_.erase(released_.begin());
    }

    // Gives `v` back; it must have been taken and not been released since. May throw
    // std::bad_alloc, and then changes nothing: `v` stays in use.
    void release(int v) {
        if (v == next_ - 1) {
            // Shrink the fresh range, and with it any released values now at its top.
            --next_;
            while (!released_.empty() && *released_.rbegin() == next_ - 1) {
                released_.erase(std::prev(released_.end()));
                --next_;
            }
            return;
        }
        std::set<int> node{v};  // the only allocation, made before anything changes
        released_.insert(node.extract(node.begin()));
    }

private:
    int next_;
    std::set<int> released_;
};

}  // namespace quro

#endif  // QURO_LOWEST_FREE_H
