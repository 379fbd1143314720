#include "quro/match/refine/level_templates.h"

#include <bit>

#include <unordered_map>

#include <tbb/concurrent_hash_map.h>
#include <tbb/enumerable_thread_specific.h>

namespace quro {
namespace {

struct PoseKey {
    std::uint32_t angle;
    std::uint32_t scale_row;
    std::uint32_t scale_col;
    bool operator==(const PoseKey&) const = default;
};

struct PoseKeyCompare {
    static std::size_t hash(const PoseKey& k) {
        std::uint64_t h = k.angle * 0x9E3779B97F4A7C15ull;
        h ^= (h >> 29) + k.scale_row * 0xBF58476D1CE4E5B9ull;
        h ^= (h >> 31) + k.scale_col * 0x94D049BB133111EBull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
    static bool equal(const PoseKey& a, const PoseKey& b) { return a == b; }
};

PoseKey key_of(const TemplatePose& p) {
    return {std::bit_cast<std::uint32_t>(p.angle), std::bit_cast<std::uint32_t>(p.scale_row),
            std::bit_cast<std::uint32_t>(p.scale_col)};
}

std::size_t bytes_of(const WindowTemplate& w) {
    return w.offsets.size() * sizeof(std::ptrdiff_t) + (w.gx.size() + w.gy.size()) * sizeof(float);
}

}  // namespace

struct PoseKeyHash {
    std::size_t operator()(const PoseKey& k) const { return PoseKeyCompare::hash(k); }
};

struct LevelTemplates::Store {
    // Node-based: a kept template never moves while others are added.
    tbb::concurrent_hash_map<PoseKey, std::unique_ptr<WindowTemplate>, PoseKeyCompare> map;
    // Each thread's view of the templates it has already used: read without touching the
    // shared map's locks, which all threads would otherwise contend for.
    tbb::enumerable_thread_specific<std::unordered_map<PoseKey, const WindowTemplate*, PoseKeyHash>>
        seen;
};

LevelTemplates::LevelTemplates(std::size_t byte_limit)
    : store_(std::make_unique<Store>()), byte_limit_(byte_limit) {}

LevelTemplates::~LevelTemplates() = default;

const WindowTemplate& LevelTemplates::get(const TemplatePose& pose, WindowTemplate& own,
                                          const std::function<void(WindowTemplate&)>& build) {
    const PoseKey key = key_of(pose);
    auto& seen = store_->seen.local();
    if (const auto it = seen.find(key); it != seen.end()) return *it->second;
    {
        decltype(store_->map)::const_accessor found;
        if (store_->map.find(found, key)) return *(seen[key] = found->second.get());
    }
    if (bytes_.load(std::memory_order_relaxed) >= byte_limit_) {
        build(own);
        return own;
    }
    // The element stays locked for writing until it is built: a concurrent caller of the same
    // pose waits in insert or find and then reads the finished template.
    decltype(store_->map)::accessor slot;
    if (store_->map.insert(slot, key)) {
        auto made = std::make_unique<WindowTemplate>();
        try {
            build(*made);
        } catch (...) {
            store_->map.erase(slot);  // nothing half-built is ever kept
            throw;
        }
        bytes_.fetch_add(bytes_of(*made), std::memory_order_relaxed);
        slot->second = std::move(made);
    }
    return *(seen[key] = slot->second.get());
}

std::size_t LevelTemplates::size() const {
    return store_->map.size();
}

}  // namespace quro
