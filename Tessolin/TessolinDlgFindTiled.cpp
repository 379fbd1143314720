// The large-image search command: the current model searched tile by tile, each match drawn with
// the model's outline at the match's pose.
#include <opencv2/imgproc.hpp>
#include <vector>

#include "CommandSupport.h"
#include "ControlIds.h"
#include "FindSupport.h"
#include "TessolinDlg.h"
#include "Texts.h"
#include "TiledSearch.h"
#include "quro/quro.h"

namespace tessolin {
namespace {

constexpr int kTiledTimeoutMs = 1000;
constexpr float kTiledDuplicateDistance = 2.5f;

// The drawing record of a match from its posed model outline (null: none), with the outline placed
// at (x, y), the match's cross there and its score label at the outline box's top left.
MatchDrawing DrawOutlineMatch(const quro::Match& m, const quro::TemplateF* outline, float x,
                              float y, const DrawOptions& o) {
    MatchDrawing drawing;
    const bool all = o.bits == 0;
    if (outline && (all || (o.bits & 1))) {
        for (int k = 0; k < outline->count; ++k) {
            const quro::Feature& p = outline->points[k];
            drawing.points.push_back({p.x + x, p.y + y, p.gx, p.gy});
            drawing.point_flags.push_back(0);
        }
    }
    AddCrosses(drawing, m, x, y, o);
    if (outline && (all || (o.bits & 4)))
        drawing.labels.push_back(
            {float(m.x + outline->min_x + 10), float(m.y + outline->min_y), m.score});
    return drawing;
}

}  // namespace

void CTessolinDlg::OnBnClickedFindLargeImage() {
    FindParams p;
    if (!ReadFindParams(p)) return;
    if (held_model_ids.empty() || held_model_ids.back() < 0) {
        ShowStatus(text::kNoModel.Get(language), 1);
        return;
    }
    const int id = held_model_ids.back();
    set_system("border_shape_models", Checked(*this, ids::kCrossBorder) ? 1 : 0);
    ApplySearchSettings(id, p, kTiledTimeoutMs);

    int levels[2] = {p.num_levels, p.lowest_level};
    std::vector<quro::Match> matches;
    set_system("print_time", 0);
    const Stopwatch watch;
    const int rc =
        FindShapeModelTiled(image_src, id, float(p.angle_start), float(p.angle_extent),
                            float(p.min_score), p.num_matches, float(p.max_overlap), p.subpixel,
                            levels, float(p.greediness), kTiledDuplicateDistance, matches);
    const double ms = watch.Ms();
    set_system("print_time", 1);
    console_.Print(ElapsedLine(ms));
    if (rc < 0) {
        ShowStatus(Format(text::kSearchFailed, language, rc, ms), 1);
        return;
    }

    if (image_show.empty()) cv::cvtColor(image_src, image_show, cv::COLOR_GRAY2BGR);
    image_buf = image_show.clone();
    std::vector<MatchDrawing> drawings;
    for (size_t i = 0; i < matches.size(); ++i) {
        const quro::Match& m = matches[i];
        const float x = float(m.x) + m.dx, y = float(m.y) + m.dy;
        console_.Print(MatchLineAt(int(i) + 1, m, x, y, p.subpixel));
        if (m.score < p.draw.min_score) continue;
        quro::TemplateF* outline = nullptr;
        const int handle = get_model_contour2_s(id, m.angle, m.scale_row, m.scale_col, &outline);
        drawings.push_back(DrawOutlineMatch(m, handle > 0 ? outline : nullptr, x, y, p.draw));
        if (handle > 0) clear_mems(handle);
    }
    match_drawings = std::move(drawings);
    image_redraw = 2;
    ShowStatus(Format(text::kSearchedTiled, language, ms), 0);
}

}  // namespace tessolin
