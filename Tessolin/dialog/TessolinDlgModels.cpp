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
    image_src = image.clone();
    if (image_src.channels() == 1)
        cv::cvtColor(image_src, image_show, cv::COLOR_GRAY2BGR);
    else
        image_show = image_src.clone();
    image_buf = image_show.clone();
    image_redraw = 1;
}

void CTessolinDlg::setModelImage(const cv::Mat& image, const cv::Mat& new_mask) {
    model_img = image.clone();
    mask = new_mask.clone();
    if (!model_img.empty()) {
        // The fit zoom within the views' zoom limits (a huge model image stays above the floor).
        const float z = FitZoom(model_img.size(),
                                cv::Size(model_view_size.width(), model_view_size.height()));
        model_fit_zoom = z;
        model_zoom = std::min(z, 1.0f);
        // Centred at the zoom used (a model smaller than the view is shown 1:1 in its middle,
        // not at the corner the fit zoom's offsets would give).
        model_offset = {(model_view_size.width() - int(model_zoom * float(model_img.cols))) / 2,
                        (model_view_size.height() - int(model_zoom * float(model_img.rows))) / 2};
    }
    model_redraw = 1;
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
                                   language);
    if (failure.isEmpty() && high < low)
        failure = Format(text::kLowAboveHigh, language, int(low), int(high));
    // The angles are not range-checked on creation, but a non-finite one never reaches the library.
    if (failure.isEmpty() && !std::isfinite(angle_start))
        failure = CheckParam(Param::kAngleStart, angle_start, language);
    if (failure.isEmpty() && !std::isfinite(angle_extent))
        failure = CheckParam(Param::kAngleExtent, angle_extent, language);
    if (failure.isEmpty() && !std::isfinite(angle_step))
        failure = RangeMessage(QStringLiteral("AngleStep"), QStringLiteral("%1").arg(angle_step),
                               0, 360, language);
    if (!failure.isEmpty()) {
        ShowStatus(failure, 1);
        return;
    }

    const int metric = ComboIndex(*this, ids::kMetricCombo) - 1;
    const ContrastParams contrast{int(low), int(high), int(min_size), int(min_contrast)};
    const float a0 = float(angle_start), ae = float(angle_extent), as = float(angle_step);
    int id = -1;
    int code = 0;
    Stopwatch watch;
    if (length1 != 0.0f) {
        watch = Stopwatch();
        code = create_shape_model_xld(length1, length2, int(levels), a0, ae, as, metric, &contrast,
                                      &id);
        if (id >= 0) {
            const int cols = int(std::fabs(length1) * 2) + 4;
            const int rows =
                int(length2 <= 0 ? std::fabs(length1) * 2 : std::fabs(length2) * 2) + 4;
            setModelImage(cv::Mat(rows, cols, CV_8UC1, cv::Scalar(0)), cv::Mat());
        }
    } else {
        const bool from_roi = Checked(*this, ids::kRoi);
        const cv::Mat& source = from_roi ? image_src : model_img;
        if (source.empty()) {
            ShowStatus(text::kImageNull.Get(language), 1);
            return;
        }
        if (source.type() != CV_8UC1) {
            ShowStatus(Format(text::kChannels, language, source.channels()), 1);
            return;
        }
        cv::Mat model;
        cv::Mat model_mask;
        if (from_roi) {
            cv::cvtColor(image_src, image_buf, cv::COLOR_GRAY2BGR);
            cv::rectangle(image_buf, roi_p1, roi_p2, cv::Scalar(0, 0, 255), line_width);
            image_redraw = 2;  // the drawing buffer, with the rectangle, until the next search
            const cv::Rect rect = InsideRoi(roi_p1, roi_p2, image_src.size());
            if (rect.empty()) {  // a corner outside, or no area: nothing to learn
                ShowStatus(QStringLiteral("outside"), 1);
                return;
            }
            ShowStatus(QStringLiteral("inside"), 0);
            model = image_src(rect).clone();
            setModelImage(model, cv::Mat());  // the old mask belongs to the old model image
        } else {
            model = model_img.clone();
            if (mask.channels() == 3)
                cv::cvtColor(mask, model_mask, cv::COLOR_BGR2GRAY);
            else if (mask.channels() == 4)
                cv::cvtColor(mask, model_mask, cv::COLOR_BGRA2GRAY);
            else
                model_mask = mask.clone();
            // Only a mask of the image's own size can be read alongside it.
            if (model_mask.size() != model.size() || model_mask.type() != CV_8UC1)
                model_mask.release();
        }
        watch = Stopwatch();
        code = create_shape_model(model.data, model.cols, model.rows, int(levels), a0, ae, as,
                                  metric, &contrast, model_mask.empty() ? nullptr : model_mask.data,
                                  &id);
    }
    const double ms = watch.Ms();
    console_.Print(ElapsedLine(ms));
    if (id < 0) {
        ShowStatus(Format(text::kCreateFailed, language, code, ms), 1);
        model_redraw = 1;
        return;
    }
    held_model_ids.push_back(id);
    ShowStatus(Format(text::kCreated, language, id, ms), 0);
    ShowModelContours(id);
}

void CTessolinDlg::ShowModelContours(int id) {
    quro::TemplateF* outline = nullptr;
    const int handle = get_model_contour3(id, 1, 0.0f, 1.0f, &outline);
    model_redraw = 1;
    if (handle < 0 || !outline) return;
    const cv::Size size = model_img.empty()
                              ? cv::Size(model_view_size.width(), model_view_size.height())
                              : model_img.size();
    const float cx = float(size.width - 1) / 2.0f;
    const float cy = float(size.height - 1) / 2.0f;
    MatchDrawing drawing;
    for (int i = 0; i < outline->count; ++i) {
        const quro::Feature& p = outline->points[i];
        drawing.points.push_back({p.x + cx, p.y + cy, p.gx, p.gy});
        drawing.point_flags.push_back(0);
    }
    if (handle > 0) clear_mems(handle);
    model_outlines.assign(1, std::move(drawing));
}

void CTessolinDlg::OnBnClickedClearModels() {
    for (int id : held_model_ids) clear_shape_model(id);
    held_model_ids.clear();
}

}  // namespace tessolin
