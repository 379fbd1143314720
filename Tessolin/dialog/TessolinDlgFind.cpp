// The single-model search command, and the parameter reading and result display every search
// command shares.
#include <QComboBox>
#include <QSpinBox>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <string>

#include "dialog/CommandSupport.h"
#include "dialog/FindSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "quro/quro.h"

namespace tessolin {
namespace {
constexpr int kDrawBits[] = {0, 1, 2, 4, 1 | 2};  // by draw combo index; 0 draws everything
}  // namespace

bool CTessolinDlg::ReadFindParams(FindParams& p) {
    if (state_.image_src.empty()) return false;
    if (state_.image_src.type() != CV_8UC1) {
        ShowStatus(Format(text::kChannels, state_.language, state_.image_src.channels()), 1);
        return false;
    }
    if (!UpdateData(true)) return false;
    const double angle_start = SpinValue(*this, ids::kAngleStartEdit);
    const double angle_extent = SpinValue(*this, ids::kAngleExtentEdit);
    const double scale_min = SpinValue(*this, ids::kScaleMinEdit);
    const double scale_max = SpinValue(*this, ids::kScaleMaxEdit);
    const double min_score = SpinValue(*this, ids::kMinScoreEdit);
    const double max_overlap = SpinValue(*this, ids::kMaxOverlapEdit);
    const double greediness = SpinValue(*this, ids::kGreedinessEdit);
    const double num_matches = std::trunc(SpinValue(*this, ids::kNumMatchesEdit));
    const double min_contrast = std::trunc(SpinValue(*this, ids::kMinContrastEdit));
    const double num_levels = std::trunc(SpinValue(*this, ids::kNumLevelsEdit));
    const double lowest_level = std::trunc(SpinValue(*this, ids::kLowestLevelEdit));

    QString failure = FirstFailure({{Param::kAngleStart, angle_start},
                                    {Param::kAngleExtent, angle_extent},
                                    {Param::kScaleMin, scale_min},
                                    {Param::kScaleMax, scale_max},
                                    {Param::kMinScore, min_score},
                                    {Param::kMaxOverlap, max_overlap},
                                    {Param::kGreediness, greediness},
                                    {Param::kNumMatches, num_matches},
                                    {Param::kMinContrast, min_contrast},
                                    {Param::kNumLevelsSearch, num_levels},
                                    {Param::kLowestLevel, lowest_level}},
                                   state_.language);
    if (failure.isEmpty() && scale_max - scale_min < 0 && std::fabs(scale_max - scale_min) > 1e-6)
        failure = Format(text::kScaleOrder, state_.language, scale_min, scale_max);
    if (!failure.isEmpty()) {
        ShowStatus(failure, 1);
        return false;
    }

    p.angle_start = angle_start;
    p.angle_extent = angle_extent;
    p.scale_min = scale_min;
    p.scale_max = scale_max;
    p.min_score = min_score;
    p.max_overlap = max_overlap;
    p.greediness = greediness;
    p.num_matches = int(num_matches);
    p.min_contrast = int(min_contrast);
    p.num_levels = int(num_levels);
    p.lowest_level = int(lowest_level);
    const auto* details_spin = controls_.As<QSpinBox>(ids::kDetailsContrastSpin);
    p.details_contrast = details_spin ? float(details_spin->value()) : 10.0f;
    const auto* deformation = controls_.As<QComboBox>(ids::kMaxDeformationCombo);
    p.subpixel = ComboIndex(*this, ids::kSubPixelCombo) +
                 10 * (deformation ? deformation->currentText().toInt() : 0);
    const int draw_index = ComboIndex(*this, ids::kDrawCombo);
    p.draw = {kDrawBits[draw_index >= 0 && draw_index < 5 ? draw_index : 0],
              float(SpinValue(*this, ids::kDisplayScoreEdit)), state_.dx, state_.dy};
    p.metric = ComboIndex(*this, ids::kMetricCombo) - 1;
    p.scale_mode = ComboIndex(*this, ids::kScaleModeCombo);
    return true;
}

void CTessolinDlg::ApplySearchSettings(int id, const FindParams& p, int timeout) {
    set_shape_model_param(id, "timeout", timeout);
    set_shape_model_param(id, "metric", p.metric);
    set_shape_model_param(id, "min_contrast", p.min_contrast);
}

void CTessolinDlg::ShowMatches(quro::Match* matches, int count, const FindParams& p,
                               double ms) {
    if (!matches) count = 0;
    quro::MatchDetails* details = nullptr;
    int details_handle = 0;
    if (count > 0)
        details_handle =
            get_match_details(state_.image_src.data, state_.image_src.cols, state_.image_src.rows,
                              p.details_contrast, matches, count, details);
    if (details_handle <= 0) details = nullptr;
    std::vector<MatchDrawing> drawings;
    for (int i = 0; i < count; ++i) {
        const quro::MatchDetails* d = details ? &details[i] : nullptr;
        console_.Print(MatchLine(i + 1, matches[i], d, p.subpixel));
        if (matches[i].score < p.draw.min_score) continue;
        drawings.push_back(DrawMatch(matches[i], d, p.draw));
    }
    PublishMatches(std::move(drawings), count, ms);
    if (details_handle > 0) clear_mems(details_handle);
}

void CTessolinDlg::PublishMatches(std::vector<MatchDrawing> drawings, int count, double ms) {
    if (state_.image_show.empty())
        cv::cvtColor(state_.image_src, state_.image_show, cv::COLOR_GRAY2BGR);
    state_.image_buf = state_.image_show.clone();
    state_.match_drawings = std::move(drawings);
    state_.image_redraw.Show(ViewRedraw::Content::kSearchDrawing);
    ShowStatus(Format(text::kSearched, state_.language, count, ms), 0);
}

void CTessolinDlg::RunSearch(const SearchCall& search, const ShowCall& show) {
    quro::Match* matches = nullptr;
    int count = 0;
    QElapsedTimer watch;
    watch.start();
    const int handle = search(matches, count);
    const double ms = ElapsedMs(watch);
    console_.Print(ElapsedLine(ms));
    if (handle < 0) {
        ShowStatus(Format(text::kSearchFailed, state_.language, handle, ms), 1);
        return;
    }
    show(matches, handle == 0 ? 0 : count, ms);
    if (handle > 0) clear_mems(handle);
}

int CTessolinDlg::PrepareModelSearch(const FindParams& p, int timeout_ms) {
    if (state_.held_model_ids.empty() || state_.held_model_ids.back() < 0) {
        ShowStatus(text::kNoModel.Get(state_.language), 1);
        return -1;
    }
    const int id = state_.held_model_ids.back();
    set_system("border_shape_models", Checked(*this, ids::kCrossBorder) ? 1 : 0);
    ApplySearchSettings(id, p, timeout_ms);
    return id;
}

void CTessolinDlg::OnBnClickedFindModel() {
    FindParams p;
    if (!ReadFindParams(p)) return;
    const int id = PrepareModelSearch(p, 5000);
    if (id < 0) return;
    if (p.scale_mode != 0) {
        FindWithScaleMode(id, p);
        return;
    }

    int levels[2] = {p.num_levels, p.lowest_level};
    RunSearch(
        [&](quro::Match*& matches, int& count) {
            return find_shape_model(
                state_.image_src.data, state_.image_src.cols, state_.image_src.rows, id,
                float(p.angle_start), float(p.angle_extent), float(p.min_score), p.num_matches,
                float(p.max_overlap), p.subpixel, levels, float(p.greediness), matches, count);
        },
        [&](quro::Match* matches, int count, double ms) { ShowMatches(matches, count, p, ms); });
}

}  // namespace tessolin
