// The posed templates of one refinement level, shared by all candidates of the level.
//
// The candidates of the level just below a top stage carry the top level's trial angles, and
// their walks try those angles and a few of this level's steps beside them: thousands of
// candidates pose a few hundred distinct templates, each one many times. A LevelTemplates keeps
// every pose it is asked for, prepared for the level's window scorer, so that each is posed and
// prepared once per level. The kept templates are the ones the walk would build itself, bit for
// bit: a walk gives the same result with or without them.
#ifndef QURO_MATCH_REFINE_LEVEL_TEMPLATES_H
#define QURO_MATCH_REFINE_LEVEL_TEMPLATES_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "quro/match/refine/window_score.h"

namespace quro {

// A pose of a template: angle (degrees), row and column scale, told apart by their bits.
struct TemplatePose {
    float angle;
    float scale_row;
    float scale_col;
};

class LevelTemplates {
public:
    // Keeps templates up to about `byte_limit` bytes of points; poses past it are built by the
    // caller each time.
    explicit LevelTemplates(std::size_t byte_limit = kDefaultByteLimit);
    ~LevelTemplates();
    LevelTemplates(const LevelTemplates&) = delete;
    LevelTemplates& operator=(const LevelTemplates&) = delete;

    // The template of `pose`: the kept one, or `build(out)` run once into a new kept template
    // (concurrent callers of the same pose wait for it). Past the byte limit `build(own)` runs
    // and `own` is returned. Safe to call from several threads; a returned kept template stays
    // valid and unchanged for the object's life. Every call on one object must build alike for a
    // pose (one record, level, map width and cell order).
    const WindowTemplate& get(const TemplatePose& pose, WindowTemplate& own,
                              const std::function<void(WindowTemplate&)>& build);

    // Number of templates kept.
    std::size_t size() const;

    static constexpr std::size_t kDefaultByteLimit = std::size_t{64} << 20;

private:
    struct Store;
    std::unique_ptr<Store> store_;
    std::size_t byte_limit_;
    std::atomic<std::size_t> bytes_{0};
};

}  // namespace quro

#endif  // QURO_MATCH_REFINE_LEVEL_TEMPLATES_H
