#include "quro/search/top_level.h"

#include <algorithm>
#include <utility>

#include <tbb/enumerable_thread_specific.h>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/coarse/peak_extraction.h"
#include "quro/match/coarse/score_accumulation.h"
#include "quro/match/outline_box.h"
#include "quro/match/select/cluster.h"
#include "quro/match/templates.h"
#include "quro/parallel.h"
#include "quro/status.h"

namespace quro {

std::vector<ScaledPose> scaled_poses(const std::vector<float>& scales,
                                     const std::vector<float>& angles) {
    std::vector<ScaledPose> poses;
    poses.reserve(scales.size() * angles.size());
    for (const float s : scales)
        for (const float a : angles) poses.push_back({s, a});
    return poses;
}

int search_top_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                     const TopLevelScan& scan, std::vector<Match>& cands) {
    const int top = st.plan.top;
    const OutlineBox box = outline_box(rec, top + 1);
    std::vector<cv::Mat> maps;
    if (top_level_response_maps(st, box.radius, maps) != 0) return kTimedOut;

    std::vector<float> angles;
    angle_list(rec, angles, top + 1, req.angle_extent, req.angle_start);
    const std::vector<ScaledPose> poses = scaled_poses(scan.scales, angles);
    std::vector<std::vector<Match>> per_pose(poses.size());
    const float level_min = st.min_scores[static_cast<std::size_t>(top)];
    const float coarse_overlap = std::max(req.max_overlap, kCoarseOverlapLimit);
    // Each thread scores its poses into the same two images: no page faults per pose.
    tbb::enumerable_thread_specific<std::pair<cv::Mat, cv::Mat>> score_buffers;
    parallel_for_index(poses.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        const ScaledPose& pose = poses[i];
        QuantizedTemplate tpl;
        quantized_template(rec, tpl, top + 1, pose.scale, pose.angle);
        auto& [score, polarity] = score_buffers.local();
        accumulate_similarity(maps, tpl, st.metric, score, polarity, st.sw, st.timeout_ms);
        extract_peaks(score, tpl, level_min, coarse_overlap, box, pose.angle, pose.scale,
                      per_pose[i], st.sw, st.timeout_ms, polarity);
        st.stop.check(st.sw, st.timeout_ms);
    });
    if (st.stop.is_set()) return kTimedOut;
    std::size_t total = 0;
    for (const auto& l : per_pose) total += l.size();
    cands.reserve(total);
    for (const auto& l : per_pose) cands.insert(cands.end(), l.begin(), l.end());

    const float step = angle_step(rec, top + 1);
    if (top == st.plan.last)
        select_final_matches(req, st, rec, top, cands);
    else if (scan.cluster)
        scan.cluster(cands, step);
    else
        cluster_candidates(cands, step, 0);
    st.sw.lap("topLevel");
    return st.timed_out() ? kTimedOut : kOk;
}

}  // namespace quro
