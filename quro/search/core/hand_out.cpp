#include "quro/search/core/hand_out.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "quro/numeric.h"
#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {

void move_to_finer_level(std::vector<Match>& cands, int from, int to,
                         const CandidateModels& models) {
    if (from <= to) return;
    const int n = from - to;
    const float f = static_cast<float>(1 << n);
    for (Match& m : cands) {
        m.x <<= n;
        m.y <<= n;
        m.dx *= f;
        m.dy *= f;
        const ShapeModelRecord* rec = models.by_id ? models.by_id(m.model_id) : models.rec;
        if (rec == nullptr) continue;
        const PoseVec posed = posed_centre_shift(*rec, m, from, to, models.two_scales);
        m.dx += posed.x;
        m.dy += posed.y;
    }
}

void scale_back_to_full_resolution(std::vector<Match>& cands, int last, float min_score,
                                   bool drop_below_min, const CandidateModels& models) {
    if (drop_below_min)
        cands.erase(std::remove_if(cands.begin(), cands.end(),
                                   [&](const Match& m) { return !(m.score >= min_score); }),
                    cands.end());
    move_to_finer_level(cands, last, 0, models);
}

float wrap_angle_into_turn(float angle, float start) {
    const float a = start + wrap_angle_360(angle - start);
    // start + a remainder just below 360 can round up to start + 360.
    return std::isnan(a) || a < start + 360.f ? a : start;
}

int hand_out_matches(const std::vector<Match>& cands, int num_matches, int model_id,
                     HandOutOptions options, Match*& results, int& count) {
    std::size_t n = cands.size();
    if (num_matches > 0 && static_cast<std::size_t>(num_matches) < n)
        n = static_cast<std::size_t>(num_matches);
    if (n > static_cast<std::size_t>(std::numeric_limits<int>::max())) n = 0;
    count = static_cast<int>(n);
    if (n == 0) return 0;
    auto* block = static_cast<Match*>(std::malloc(n * sizeof(Match)));
    if (block == nullptr) {
        results = nullptr;
        count = 0;
        return kFailed;
    }
    std::memcpy(block, cands.data(), n * sizeof(Match));
    for (std::size_t i = 0; i < n; ++i) {
        if (!options.keep_scale_col) block[i].scale_col = block[i].scale_row;
        if (!options.keep_model_ids) block[i].model_id = model_id;
        if (options.angle_extent >= 360.f)
            block[i].angle = wrap_angle_into_turn(block[i].angle, options.angle_start);
    }
    int handle;
    try {
        handle = register_result(kResultBytes, block, static_cast<int>(n));
    } catch (...) {
        std::free(block);
        results = nullptr;
        count = 0;
        return kFailed;
    }
    results = block;
    return handle;
}

}  // namespace quro
