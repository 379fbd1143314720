#include "quro/search/core/search_state.h"

#include <algorithm>
#include <utility>

#include "quro/search/core/search_input.h"
#include "quro/status.h"

namespace quro {

SearchState::~SearchState() {
    const auto holds = [](const std::vector<cv::Mat>& maps) {
        return std::any_of(maps.begin(), maps.end(), [](const cv::Mat& m) { return !m.empty(); });
    };
    if (holds(normals.nx) || holds(normals.ny)) release_in_background(std::move(normals));
}

int prepare_search(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st) {
    st.deadline.timeout_ms = rec.timeout_ms;
    st.metric = rec.metric;
    st.min_contrast = search_min_contrast(rec.contrast.min_contrast);
    const int built = std::min<int>(rec.num_levels, static_cast<int>(rec.level_features.size()));
    if (!plan_levels(req.levels, built, req.subpixel_code, st.plan)) return kFailed;
    const int L = st.plan.levels_used;
    st.pyramid = build_search_pyramid(req.data, req.width, req.height, L, st.limit());
    st.mask_pyramid = build_mask_pyramid(req.mask, req.width, req.height, L);
    st.sw.lap("pyrDown");
    if (st.timed_out()) return kTimedOut;
    st.normals.nx.assign(static_cast<std::size_t>(L), cv::Mat());
    st.normals.ny.assign(static_cast<std::size_t>(L), cv::Mat());
    st.min_scores = level_min_scores(
        req.min_score, L,
        st.scale_min < 1.f ? kSmallInstanceLevelScoreFactor : kInnerLevelScoreFactor);
    st.cell_index.assign(static_cast<std::size_t>(L), {});
    st.cell_order.assign(static_cast<std::size_t>(L), {});
    return kOk;
}

}  // namespace quro
