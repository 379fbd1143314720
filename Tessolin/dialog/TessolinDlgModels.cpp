// Model creation, clearing and the model outline.
#include <QString>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "core/ImageFiles.h"
#include "dialog/CommandSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "quro/quro.h"

namespace tessolin {

void CTessolinDlg::setSearchImage(const cv::Mat& image) {
    state_.image_src = image.clone();
    if (state_.image_src.channels() == 1)
        cv::cvtColor(state_.image_src, state_.image_show, cv::COLOR_GRAY2BGR);
    else
        state_.image_show = state_.image_src.clone();
    state_.image_buf = state_.image_show.clone();
    state_.image_redraw.Show(ViewRedraw::Content::kPlain);
}

void CTessolinDlg::setModelImage(const cv::Mat& image, const cv::Mat& new_mask) {
    state_.model_img = image.clone();
    state_.mask = new_mask.clone();
    if (!state_.model_img.empty()) {
        // The fit zoom within the views' zoom limits (a huge model image stays above the floor).
        const float z = FitZoom(state_.model_img.size(), cv::Size(state_.model_view_size.width(),
                                                                  state_.model_view_size.height()));
        state_.model_fit_zoom = z;
        state_.model_zoom = std::min(z, 1.0f);
        // Centred at the zoom used (a model smaller than the view is shown 1:1 in its middle,
        // not at the corner the fit zoom's offsets would give).
        state_.model_offset = {(state_.model_view_size.width() -
                                int(state_.model_zoom * float(state_.model_img.cols))) /
                                   2,
                               (state_.model_view_size.height() -
                                int(state_.model_zoom * float(state_.model_img.rows))) /
                                   2};
    }
    state_.model_redraw.Show(ViewRedraw::Content::kPlain);
}

void CTessolinDlg::OnBnClickedCreateModel() {
    if (!UpdateData(true)) return;
    const double angle_start = SpinValue(*this, ids::kAngleStartEdit);
    const double angle_extent = SpinValue(*this, ids::kAngleExtentEdit);
    const double angle_step = SpinValue(*this, ids::kAngleStepEdit);
    const double low = std::trunc(SpinValue(*this, ids::kContrastLowEdit));
    const double high = std::trunc(SpinValue(*this, ids::kContrastHighEdit));
    const double min_size = std::trunc(SpinValue(*this, ids::kMinCompSizeEdit));
    const double min_contrast = std::trunc(SpinValue(*this, ids::kMinContrastEdit));
    const double levels = std::trunc(SpinValue(*this, ids::kNumLevelsEdit));

    QString failure = FirstFailure({{Param::kContrastLow, low},
                                    {Param::kContrastHigh, high},
                                    {Param::kMinCompSize, min_size},
                                    {Param::kNumLevels, levels},
                                    {Param::kMinContrast, min_contrast}},
                                   state_.language);
    if (failure.isEmpty() && high < low)
        failure = Format(text::kLowAboveHigh, state_.language, int(low), int(high));
    // The angles are not range-checked on creation, but a non-finite one never reaches the library.
    if (failure.isEmpty() && !std::isfinite(angle_start))
        failure = CheckParam(Param::kAngleStart, angle_start, state_.language);
    if (failure.isEmpty() && !std::isfinite(angle_extent))
        failure = CheckParam(Param::kAngleExtent, angle_extent, state_.language);
    if (failure.isEmpty() && !std::isfinite(angle_step))
        failure = RangeMessage(QStringLiteral("AngleStep"), QStringLiteral("%1").arg(angle_step), 0,
                               360, state_.language);
    if (!failure.isEmpty()) {
        ShowStatus(failure, 1);
        return;
    }

    const int metric = ComboIndex(*this, ids::kMetricCombo) - 1;
    const ContrastParams contrast{int(low), int(high), int(min_size), int(min_contrast)};
    const float a0 = float(angle_start), ae = float(angle_extent), as = float(angle_step);
    int id = -1;
    int code = 0;
    QElapsedTimer watch;  // restarted right before the creation call
    watch.start();
    if (state_.length1 != 0.0f) {
        watch.start();
        code = create_shape_model_xld(state_.length1, state_.length2, int(levels), a0, ae, as,
                                      metric, &contrast, &id);
        if (id >= 0) {
            const int cols = int(std::fabs(state_.length1) * 2) + 4;
            const int rows = int(state_.length2 <= 0 ? std::fabs(state_.length1) * 2
                                                     : std::fabs(state_.length2) * 2) +
                             4;
            setModelImage(cv::Mat(rows, cols, CV_8UC1, cv::Scalar(0)), cv::Mat());
        }
    } else {
        const bool from_roi = Checked(*this, ids::kRoi);
        const cv::Mat& source = from_roi ? state_.image_src : state_.model_img;
        if (source.empty()) {
            ShowStatus(text::kImageNull.Get(state_.language), 1);
            return;
        }
        if (source.type() != CV_8UC1) {
            ShowStatus(Format(text::kChannels, state_.language, source.channels()), 1);
            return;
        }
        cv::Mat model;
        cv::Mat model_mask;
        if (from_roi) {
            cv::cvtColor(state_.image_src, state_.image_buf, cv::COLOR_GRAY2BGR);
            cv::rectangle(state_.image_buf, state_.roi_p1, state_.roi_p2, cv::Scalar(0, 0, 255),
                          state_.line_width);
            state_.image_redraw.Show(
                ViewRedraw::Content::kSearchDrawing);  // the drawing buffer, with the rectangle,
                                                       // until the next search
            const cv::Rect rect = InsideRoi(state_.roi_p1, state_.roi_p2, state_.image_src.size());
            if (rect.empty()) {  // a corner outside, or no area: nothing to learn
                ShowStatus(QStringLiteral("outside"), 1);
                return;
            }
            ShowStatus(QStringLiteral("inside"), 0);
            model = state_.image_src(rect).clone();
            setModelImage(model, cv::Mat());  // the old mask belongs to the old model image
        } else {
            model = state_.model_img.clone();
            if (state_.mask.channels() == 3)
                cv::cvtColor(state_.mask, model_mask, cv::COLOR_BGR2GRAY);
            else if (state_.mask.channels() == 4)
                cv::cvtColor(state_.mask, model_mask, cv::COLOR_BGRA2GRAY);
            else
                model_mask = state_.mask.clone();
            // Only a mask of the image's own size can be read alongside it.
            if (model_mask.size() != model.size() || model_mask.type() != CV_8UC1)
                model_mask.release();
        }
        watch.start();
        code = create_shape_model(model.data, model.cols, model.rows, int(levels), a0, ae, as,
                                  metric, &contrast, model_mask.empty() ? nullptr : model_mask.data,
                                  &id);
    }
    const double ms = ElapsedMs(watch);
    console_.Print(ElapsedLine(ms));
    if (id < 0) {
        ShowStatus(Format(text::kCreateFailed, state_.language, code, ms), 1);
        state_.model_redraw.Show(ViewRedraw::Content::kPlain);
        return;
    }
    state_.held_model_ids.push_back(id);
    ShowStatus(Format(text::kCreated, state_.language, id, ms), 0);
    ShowModelContours(id);
}

void CTessolinDlg::ShowModelContours(int id) {
    quro::TemplateF* outline = nullptr;
    const int handle = get_model_contour3(id, 1, 0.0f, 1.0f, &outline);
    if (handle < 0 || !outline) {
        state_.model_redraw.Show(ViewRedraw::Content::kPlain);
        return;
    }
    const cv::Size size = state_.model_img.empty() ? cv::Size(state_.model_view_size.width(),
                                                              state_.model_view_size.height())
                                                   : state_.model_img.size();
    const float cx = float(size.width - 1) / 2.0f;
    const float cy = float(size.height - 1) / 2.0f;
    std::vector<MatchDrawing> outlines(1);
    MatchDrawing& drawing = outlines[0];
    for (int i = 0; i < outline->count; ++i) {
        const quro::Feature& p = outline->points[i];
        drawing.points.push_back({p.x + cx, p.y + cy, p.gx, p.gy});
        drawing.point_flags.push_back(0);
    }
    if (handle > 0) clear_mems(handle);
    ShowModelOutlines(std::move(outlines));
}

void CTessolinDlg::ShowModelOutlines(std::vector<MatchDrawing> outlines) {
    state_.model_outlines = std::move(outlines);
    state_.model_redraw.Show(ViewRedraw::Content::kPlain);
}

void CTessolinDlg::OnBnClickedClearModels() {
    for (int id : state_.held_model_ids) clear_shape_model(id);
    state_.held_model_ids.clear();
}

void CTessolinDlg::HoldModel(int id) {
    state_.held_model_ids.push_back(id);
}

}  // namespace tessolin
