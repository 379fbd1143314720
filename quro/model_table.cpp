#include "quro/model_table.h"

#include <map>
#include <mutex>
#include <shared_mutex>

#include "quro/export_guard.h"
#include "quro/lowest_free.h"
#include "quro/status.h"

namespace quro {

std::shared_ptr<AngleProfileCache> make_angle_profile_cache() {
    return std::make_shared<AngleProfileCache>();
}

namespace {

class ShapeModelTable {
public:
    int insert(std::shared_ptr<ShapeModelRecord> rec) {
        std::unique_lock lock(mutex_);
        const int id = ids_.lowest();
        models_.emplace(id, std::move(rec));  // may throw; the id is taken only after it
        ids_.take_lowest();
        return id;
    }

    int erase(int id) {
        std::shared_ptr<ShapeModelRecord> doomed;  // destroyed after the lock is dropped
        {
            std::unique_lock lock(mutex_);
            auto it = models_.find(id);
            if (it == models_.end()) return kFailed;
            // Given back before the model goes: a failure leaves the model in place.
            ids_.release(id);
            doomed = std::move(it->second);
            models_.erase(it);
        }
        return kOk;
    }

    std::shared_ptr<ShapeModelRecord> find(int id) const {
        std::shared_lock lock(mutex_);
        auto it = models_.find(id);
        return it == models_.end() ? nullptr : it->second;
    }

    void set_range(ShapeModelRecord& rec, float start, float extent) {
        std::unique_lock lock(mutex_);
        rec.angle_start = start;
        rec.angle_extent = extent;
    }

    bool read_locked(int id, const std::function<void(const ShapeModelRecord&)>& read) const {
        std::shared_lock lock(mutex_);
        auto it = models_.find(id);
        if (it == models_.end()) return false;
        read(*it->second);
        return true;
    }

    bool edit_locked(int id, const std::function<void(ShapeModelRecord&)>& edit) {
        std::unique_lock lock(mutex_);
        auto it = models_.find(id);
        if (it == models_.end()) return false;
        auto fresh = make_angle_profile_cache();  // the points may change
        edit(*it->second);
        it->second->angle_profiles = std::move(fresh);
        return true;
    }

    std::size_t size() const {
        std::shared_lock lock(mutex_);
        return models_.size();
    }

private:
    mutable std::shared_mutex mutex_;
    LowestFreeAllocator ids_{0};
    std::map<int, std::shared_ptr<ShapeModelRecord>> models_;
};

ShapeModelTable& table() {
    static ShapeModelTable* t = new ShapeModelTable;  // never destroyed
    return *t;
}

}  // namespace

void reset_shape_model_record(ShapeModelRecord& rec) { rec = ShapeModelRecord{}; }

int add_shape_model(const ShapeModelRecord& rec) {
    auto stored = std::make_shared<ShapeModelRecord>(rec);
    stored->angle_profiles = make_angle_profile_cache();
    return table().insert(std::move(stored));
}

int add_shape_model(ShapeModelRecord&& rec) {
    auto stored = std::make_shared<ShapeModelRecord>(std::move(rec));
    stored->angle_profiles = make_angle_profile_cache();
    return table().insert(std::move(stored));
}

bool has_shape_model(int id) { return id >= 0 && table().find(id) != nullptr; }

std::shared_ptr<ShapeModelRecord> find_shape_model_record(int id) {
    if (id < 0) return nullptr;
    return table().find(id);
}

void set_shape_model_angle_range(ShapeModelRecord& rec, float start, float extent) {
    table().set_range(rec, start, extent);
}

bool read_shape_model_locked(int id, const std::function<void(const ShapeModelRecord&)>& read) {
    return id >= 0 && table().read_locked(id, read);
}

bool edit_shape_model_locked(int id, const std::function<void(ShapeModelRecord&)>& edit) {
    return id >= 0 && table().edit_locked(id, edit);
}

bool copy_shape_model_record(int id, ShapeModelRecord& out) {
    return read_shape_model_locked(id, [&](const ShapeModelRecord& rec) { out = rec; });
}

int erase_shape_model(int id) {
    if (id < 0) return kFailed;
    return table().erase(id);
}

std::size_t shape_model_count() { return table().size(); }

}  // namespace quro

extern "C" QURO_API int clear_shape_model(int id) {
    return quro::guarded(quro::kFailed, [&] { return quro::erase_shape_model(id); });
}

extern "C" QURO_API int copy_shape_model(int id) {
    return quro::guarded(quro::kFailed, [&] {
        quro::ShapeModelRecord copy;
        // Copied under the lock, inserted after it.
        if (!quro::copy_shape_model_record(id, copy)) return quro::kFailed;
        return quro::add_shape_model(std::move(copy));
    });
}

extern "C" QURO_API void set_shape_model_origin(int id, float first, float second) {
    quro::guarded_void([&] {
        if (auto rec = quro::find_shape_model_record(id)) {
            rec->origin_first = first;
            rec->origin_second = second;
        }
    });
}
