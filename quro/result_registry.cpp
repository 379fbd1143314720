#include "quro/result_registry.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "quro/export_guard.h"
#include "quro/lowest_free.h"
#include "quro/quro.h"
#include "quro/status.h"

namespace quro {
namespace {

struct Slot {
    ResultEntry entry{0, nullptr, 0};
    bool used = false;
};

class ResultRegistry {
public:
    int add(int kind, void* block, int count) {
        std::lock_guard<std::mutex> lock(mutex_);
        const int handle = handles_.lowest();
        // The only step that may throw comes before the handle is taken.
        if (static_cast<std::size_t>(handle) >= slots_.size()) slots_.resize(handle + 1);
        handles_.take_lowest();
        slots_[handle].entry = ResultEntry{count, block, kind};
        slots_[handle].used = true;
        ++live_;
        return handle;
    }

    bool take(int handle, ResultEntry* out) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (handle <= 0 || static_cast<std::size_t>(handle) >= slots_.size() ||
            !slots_[handle].used)
            return false;
        // Given back first: when that fails (no memory) the entry stays as it was, registered
        // and still releasable, instead of a cleared slot whose handle is never handed out again.
        handles_.release(handle);
        *out = slots_[handle].entry;
        slots_[handle] = Slot{};
        --live_;
        return true;
    }

    bool find(int handle, ResultEntry* out) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (handle <= 0 || static_cast<std::size_t>(handle) >= slots_.size() ||
            !slots_[handle].used)
            return false;
        *out = slots_[handle].entry;
        return true;
    }

    std::size_t live() {
        std::lock_guard<std::mutex> lock(mutex_);
        return live_;
    }

private:
    std::mutex mutex_;
    LowestFreeAllocator handles_{1};
    std::vector<Slot> slots_;
    std::size_t live_ = 0;
};

ResultRegistry& registry() {
    // Never destroyed: blocks that are never cleared stay valid until the process ends.
    static ResultRegistry* r = new ResultRegistry;
    return *r;
}

// Frees a block by its kind. Runs outside the registry's lock; destructors free inner arrays.
void free_block(const ResultEntry& e) {
    if (e.block == nullptr) return;
    switch (e.kind) {
        case kResultBytes:
        case kResultMalloc3:
        case kResultMalloc4:
        case kResultMeasure:
        case kResultRRect:
            std::free(e.block);
            break;
        case kResultTemplateI:
            delete static_cast<TemplateI*>(e.block);
            break;
        case kResultTemplateF:
            delete static_cast<TemplateF*>(e.block);
            break;
        case kResultDetails:
            delete[] static_cast<MatchDetails*>(e.block);
            break;
        case kResultContours:
            delete[] static_cast<Contour*>(e.block);
            break;
        case kResultFields:
            delete[] static_cast<VectorField*>(e.block);
            break;
        default:
            break;  // unknown kind: the block is not ours to free
    }
}

}  // namespace

int register_result(int kind, void* block, int count) { return registry().add(kind, block, count); }

int release_result(int handle) {
    ResultEntry e;
    if (!registry().take(handle, &e)) return kFailed;
    free_block(e);
    return kOk;
}

bool lookup_result(int handle, ResultEntry* out) {
    return out != nullptr && registry().find(handle, out);
}

std::size_t registered_result_count() { return registry().live(); }

}  // namespace quro

extern "C" QURO_API int clear_mems(int handle) {
    return quro::guarded(quro::kFailed, [&] { return quro::release_result(handle); });
}
