// The single-model search command and the drawing records it builds.
#include <QComboBox>
#include <QSpinBox>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <string>

#include "CommandSupport.h"
#include "ControlIds.h"
#include "TessolinDlg.h"
#include "Texts.h"
#include "quro/quro.h"

namespace tessolin {
namespace {

constexpr float kLowPointScore = 0.8660254f;  // cos(30 degrees)
constexpr int kDrawBits[] = {0, 1, 2, 4, 1 | 2};  // by draw combo index; 0 draws everything

struct DrawOptions {
    int bits;
    float min_score;  // matches below are printed but not drawn
    float dx, dy;     // offset drawn as an extra cross, when not 0
};

MatchDrawing DrawMatch(const quro::Match& m, const quro::MatchDetails* d, const DrawOptions& o) {
    MatchDrawing drawing;
    const bool all = o.bits == 0;
    const float x = d ? d->x : float(m.x), y = d ? d->y : float(m.y);
    if (d && (all || (o.bits & 1))) {
        for (int k = 0; k < d->count; ++k) {
            const quro::Feature& p = d->points[k];
            drawing.points.push_back({p.x + x, p.y + y, p.gx, p.gy});
            drawing.point_flags.push_back(d->scores[k] < kLowPointScore ? 1 : 0);
        }
    }
    if (all || (o.bits & 2)) drawing.crosses.push_back({x, y});
    if (d && (all || (o.bits & 4)))
        drawing.labels.push_back(
            {float(m.x + d->min_x + 10), float(m.y + d->min_y), m.score});
    if (o.dx != 0.0f || o.dy != 0.0f) {
        float ox = 0.0f, oy = 0.0f;
        set_match_result_offset(&m, o.dx, o.dy, &ox, &oy);
        drawing.crosses.push_back({ox, oy});
    }
    return drawing;
}

std::string MatchLine(int i, const quro::Match& m, const quro::MatchDetails* d, int subpixel) {
    if (subpixel > 0) {
        const double x = d ? d->x : m.x, y = d ? d->y : m.y;
        return QString::asprintf("i = %3d, x = %10.3f, y = %10.3f, angle = %8.3f, scale = %8.3f, "
                                 "scale2 = %8.3f, score = %5.3f\n",
                                 i, x, y, double(m.angle), double(m.scale_row),
                                 double(m.scale_col), double(m.score))
            .toStdString();
    }
    return QString::asprintf("i = %3d, x = %5d, y = %5d, angle = %8.3f, scale = %8.3f, "
                             "scale2 = %8.3f, score = %5.3f\n",
                             i, m.x, m.y, double(m.angle), double(m.scale_row),
                             double(m.scale_col), double(m.score))
        .toStdString();
}

}  // namespace

void CTessolinDlg::OnBnClickedFindModel() {
    if (image_src.empty()) return;
    if (image_src.type() != CV_8UC1) {
        ShowStatus(Format(text::kChannels, language, image_src.channels()), 1);
        return;
    }
    if (!UpdateData(true)) return;
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
    const auto* details_spin = controls.As<QSpinBox>(ids::kDetailsContrastSpin);
    const float details_contrast = details_spin ? float(details_spin->value()) : 10.0f;

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
                                   language);
    if (failure.isEmpty() && scale_max - scale_min < 0 && std::fabs(scale_max - scale_min) > 1e-6)
        failure = Format(text::kScaleOrder, language, scale_min, scale_max);
    if (!failure.isEmpty()) {
        ShowStatus(failure, 1);
        return;
    }

    const auto* deformation = controls.As<QComboBox>(ids::kMaxDeformationCombo);
    const int subpixel = ComboIndex(*this, ids::kSubPixelCombo) +
                         10 * (deformation ? deformation->currentText().toInt() : 0);
    const int draw_index = ComboIndex(*this, ids::kDrawCombo);
    const DrawOptions draw{kDrawBits[draw_index < 5 ? draw_index : 0],
                           float(SpinValue(*this, ids::kDisplayScoreEdit)), dx, dy};
    const int metric = ComboIndex(*this, ids::kMetricCombo) - 1;
    if (held_model_ids.empty() || held_model_ids.back() < 0) {
        ShowStatus(text::kNoModel.Get(language), 1);
        return;
    }
    // Scaled, anisotropic and deformable searches have their own commands still to come.
    if (ComboIndex(*this, ids::kScaleModeCombo) != 0) return;

    const int id = held_model_ids.back();
    set_system("border_shape_models", Checked(*this, ids::kCrossBorder) ? 1 : 0);
    set_shape_model_param(id, "timeout", 5000);
    set_shape_model_param(id, "metric", metric);
    set_shape_model_param(id, "min_contrast", int(min_contrast));

    int levels[2] = {int(num_levels), int(lowest_level)};
    quro::Match* matches = nullptr;
    int count = 0;
    const Stopwatch watch;
    const int handle = find_shape_model(image_src.data, image_src.cols, image_src.rows, id,
                                        float(angle_start), float(angle_extent), float(min_score),
                                        int(num_matches), float(max_overlap), subpixel, levels,
                                        float(greediness), matches, count);
    const double ms = watch.Ms();
    console_.Print(ElapsedLine(ms));
    if (handle < 0) {
        ShowStatus(Format(text::kSearchFailed, language, handle, ms), 1);
        return;
    }
    if (handle == 0 || !matches) count = 0;
    if (image_show.empty()) cv::cvtColor(image_src, image_show, cv::COLOR_GRAY2BGR);
    image_buf = image_show.clone();

    quro::MatchDetails* details = nullptr;
    int details_handle = 0;
    if (count > 0)
        details_handle = get_match_details(image_src.data, image_src.cols, image_src.rows,
                                           details_contrast, matches, count, details);
    if (details_handle <= 0) details = nullptr;
    std::vector<MatchDrawing> drawings;
    for (int i = 0; i < count; ++i) {
        const quro::MatchDetails* d = details ? &details[i] : nullptr;
        console_.Print(MatchLine(i + 1, matches[i], d, subpixel));
        if (matches[i].score < draw.min_score) continue;
        drawings.push_back(DrawMatch(matches[i], d, draw));
    }
    match_drawings = std::move(drawings);
    image_redraw = 2;
    ShowStatus(Format(text::kSearched, language, count, ms), 0);
    if (details_handle > 0) clear_mems(details_handle);
    if (handle > 0) clear_mems(handle);
}

}  // namespace tessolin
