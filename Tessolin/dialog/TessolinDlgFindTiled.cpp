// The large-image search command: the current model searched tile by tile, each match drawn with
// the model's outline at the match's pose.
#include <opencv2/imgproc.hpp>
#include <vector>

#include "core/TiledSearch.h"
#include "dialog/CommandSupport.h"
#include "dialog/FindSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "quro/quro.h"

namespace tessolin {
namespace {

constexpr int kTiledTimeoutMs = 1000;
constexpr float kTiledDuplicateDistance = 2.5f;

}  // namespace

void CTessolinDlg::OnBnClickedFindLargeImage() {
    FindParams p;
    if (!ReadFindParams(p)) return;
    const int id = PrepareModelSearch(p, kTiledTimeoutMs);
    if (id < 0) return;

    int levels[2] = {p.num_levels, p.lowest_level};
    std::vector<quro::Match> matches;
    set_system("print_time", 0);
    QElapsedTimer watch;
    watch.start();
    const int rc =
        FindShapeModelTiled(state_.image_src, id, float(p.angle_start), float(p.angle_extent),
                            float(p.min_score), p.num_matches, float(p.max_overlap), p.subpixel,
                            levels, float(p.greediness), kTiledDuplicateDistance, matches);
    const double ms = ElapsedMs(watch);
    set_system("print_time", 1);
    console_.Print(ElapsedLine(ms));
    if (rc < 0) {
        ShowStatus(Format(text::kSearchFailed, state_.language, rc, ms), 1);
        return;
    }

    if (state_.image_show.empty())
        cv::cvtColor(state_.image_src, state_.image_show, cv::COLOR_GRAY2BGR);
    state_.image_buf = state_.image_show.clone();
    std::vector<MatchDrawing> drawings;
    for (size_t i = 0; i < matches.size(); ++i) {
        const quro::Match& m = matches[i];
        const float x = float(m.x) + m.dx, y = float(m.y) + m.dy;
        console_.Print(MatchLineAt(int(i) + 1, m, x, y, p.subpixel));
        if (m.score < p.draw.min_score) continue;
        drawings.push_back(DrawPosedOutline(id, m, x, y, p.draw, [&](float px, float py) {
            return std::array<float, 2>{px + x, py + y};
        }));
    }
    state_.match_drawings = std::move(drawings);
    state_.image_redraw.Show(ViewRedraw::Content::kSearchDrawing);
    ShowStatus(Format(text::kSearchedTiled, state_.language, ms), 0);
}

}  // namespace tessolin
