// The two image views: the redraw timer, mouse editing of the ROI, zoom and pan, the scroll
// bars and the view menus. Handlers only change the view state and set redraw flags; the timer
// paints.
#include <QMenu>
#include <QScrollBar>
#include <opencv2/highgui.hpp>

#include "core/ImageFiles.h"
#include "core/ViewRender.h"
#include "dialog/CommandSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "widgets/ClickLabel.h"

namespace tessolin {
namespace {

enum ViewId { kNoView = 0, kImageViewId = 1, kModelViewId = 2 };

cv::Size ToCv(QSize s) {
    return {s.width(), s.height()};
}

// QAbstractSlider actions as scroll codes; -1 for the ones left to the scroll bar itself.
int ScrollCodeOf(int action) {
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            return kLineUp;
        case QAbstractSlider::SliderSingleStepAdd:
            return kLineDown;
        case QAbstractSlider::SliderPageStepSub:
            return kPageUp;
        case QAbstractSlider::SliderPageStepAdd:
            return kPageDown;
        case QAbstractSlider::SliderMove:
            return kThumbTrack;
        default:
            return -1;
    }
}

const TextPair* MenuText(int id) {
    switch (id) {
        case ids::kLineWidth1:
            return &text::kMenuLineWidth1;
        case ids::kLineWidth2:
            return &text::kMenuLineWidth2;
        case ids::kSaveRoiImage:
            return &text::kMenuSaveRoiImage;
        case ids::kShowFeaturePoints:
            return &text::kMenuShowFeaturePoints;
        case ids::kZoomOneToOne:
            return &text::kMenuOneToOne;
        case ids::kZoomFit:
            return &text::kMenuFit;
        case ids::kAbout:
            return &text::kMenuAbout;
        default:
            return nullptr;
    }
}

}  // namespace

// The "more" button and the ROI box reach OnCommandId through the connection every button gets
// in OnInitDialog; a second one here ran them twice per click (the menu popped up twice).
void CTessolinDlg::ConnectViewControls() {
    for (int id : {ids::kHScroll, ids::kVScroll}) {
        if (auto* bar = controls_.As<QScrollBar>(id)) {
            connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, id](int action) {
                const int code = ScrollCodeOf(action);
                if (code < 0) return;
                if (id == ids::kHScroll)
                    OnHScroll(code, bar->sliderPosition());
                else
                    OnVScroll(code, bar->sliderPosition());
            });
        }
    }
    if (auto* label = controls_.As<ClickLabel>(ids::kDrawLabel))
        connect(label, &ClickLabel::doubleClicked, this, &CTessolinDlg::OnStnDblclkDraw);
}

// ---- Painting ----

void CTessolinDlg::OnTimer() {
    if (state_.image_redraw.Pending()) {
        PaintImageView();
        state_.image_redraw.Painted();
    }
    if (state_.roi_changed) EstimateRoiContrast();
    if (state_.model_redraw.Pending()) {
        PaintModelView();
        state_.model_redraw.Painted();
    }
}

void CTessolinDlg::PaintImageView() {
    if (state_.image_bg.size() != ToCv(state_.image_view_size))
        state_.image_bg = MakeCheckerboard(state_.image_view_size);
    // The search drawing while the view shows it, else the plain display copy.
    const bool search_copy = state_.image_redraw.Shows() == ViewRedraw::Content::kSearchDrawing &&
                             !state_.image_buf.empty() &&
                             state_.image_buf.size() == state_.image_src.size();
    const ViewPose pose{state_.image_zoom, state_.image_offset};
    RenderView(state_.image_bg, search_copy ? state_.image_buf : state_.image_show, pose,
               state_.image_view_buf);
    DrawRecords(state_.image_view_buf, state_.match_drawings, pose, state_.line_width);
    if (Checked(*this, ids::kRoi))
        DrawRoi(state_.image_view_buf, state_.roi_p1, state_.roi_p2, pose);
    if (image_view_) image_view_->Show(state_.image_view_buf);
}

// Without a model image (a model read from a file or a drawing) the background and the outline
// are painted all the same.
void CTessolinDlg::PaintModelView() {
    if (state_.model_checker.size() != ToCv(state_.model_view_size))
        state_.model_checker = MakeCheckerboard(state_.model_view_size);
    const ViewPose pose{state_.model_zoom, cv::Point2f(state_.model_offset)};
    RenderView(state_.model_checker, state_.model_img, pose, state_.model_buf);
    DrawRecords(state_.model_buf, state_.model_outlines, pose, state_.line_width);
    if (model_view_) model_view_->Show(state_.model_buf);
}

// Runs on a copy of the ROI of the search image, when both corners lie inside it and it has an
// area; the flag is cleared in any case.
void CTessolinDlg::EstimateRoiContrast() {
    state_.roi_changed = false;
    const cv::Rect rect = InsideRoi(state_.roi_p1, state_.roi_p2, state_.image_src.size());
    if (!rect.empty()) EstimateContrast(state_.contrast_ratio, state_.image_src(rect).clone());
}

// ---- View state ----

void CTessolinDlg::SetImagePose(const ViewPose& pose) {
    state_.image_zoom = pose.zoom;
    state_.image_offset = pose.offset;
    SyncScrollBars();
}

void CTessolinDlg::SetRoiCorners(cv::Point p1, cv::Point p2) {
    state_.roi_p1 = p1;
    state_.roi_p2 = p2;
}

void CTessolinDlg::SetModelPose(const ViewPose& pose) {
    state_.model_zoom = pose.zoom;
    state_.model_offset = cv::Point(cvRound(pose.offset.x), cvRound(pose.offset.y));
}

void CTessolinDlg::FitImageView() {
    if (state_.image_src.empty()) return;
    const cv::Size view = ToCv(state_.image_view_size);
    state_.image_fit_zoom = FitZoom(state_.image_src.size(), view);
    SetImagePose(CentredPose(state_.image_src.size(), view, std::min(state_.image_fit_zoom, 1.0f)));
}

void CTessolinDlg::SyncScrollBars() {
    const std::pair<int, int> axes[] = {
        {ids::kHScroll,
         ScrollRange(state_.image_src.cols, state_.image_view_size.width(), state_.image_zoom)},
        {ids::kVScroll,
         ScrollRange(state_.image_src.rows, state_.image_view_size.height(), state_.image_zoom)}};
    for (const auto& [id, range] : axes) {
        auto* bar = controls_.As<QScrollBar>(id);
        if (!bar) continue;
        const float offset = id == ids::kHScroll ? state_.image_offset.x : state_.image_offset.y;
        bar->setRange(0, range);
        bar->setValue(ScrollFromOffset(offset, state_.image_zoom, range));
    }
}

void CTessolinDlg::OnHScroll(int code, int thumb) {
    Scroll(ids::kHScroll, code, thumb);
}
void CTessolinDlg::OnVScroll(int code, int thumb) {
    Scroll(ids::kVScroll, code, thumb);
}

void CTessolinDlg::Scroll(int bar_id, int code, int thumb) {
    auto* bar = controls_.As<QScrollBar>(bar_id);
    if (state_.image_redraw.Shows() == ViewRedraw::Content::kNothing || !bar) return;
    const int pos = ScrollPosition(code, bar->value(), thumb, bar->maximum());
    if (pos < 0) return;
    bar->setSliderPosition(pos);
    bar->setValue(pos);
    if (bar->maximum() > 0) {  // an axis that fits the view stays centred
        float& offset = bar_id == ids::kHScroll ? state_.image_offset.x : state_.image_offset.y;
        offset = -float(pos) * state_.image_zoom;
    }
    state_.image_redraw.Repaint();
}

// ---- Mouse ----

void CTessolinDlg::OnImageMouse(int event, int x, int y, int flags, void* dialog) {
    if (dialog) static_cast<CTessolinDlg*>(dialog)->ImageMouse(event, x, y, flags);
}
void CTessolinDlg::OnModelMouse(int event, int x, int y, int flags, void* dialog) {
    if (dialog) static_cast<CTessolinDlg*>(dialog)->ModelMouse(event, x, y, flags);
}

void CTessolinDlg::ImageMouse(int event, int x, int y, int flags) {
    if (state_.image_src.empty()) return;  // no image: nothing to edit, move or zoom
    const cv::Size view = ToCv(state_.image_view_size);
    const cv::Point p = ClampToView({x, y}, view);
    const ViewPose pose{state_.image_zoom, state_.image_offset};
    const auto to_view = [&](cv::Point c) {
        return cv::Point2f(float(c.x) * pose.zoom + pose.offset.x,
                           float(c.y) * pose.zoom + pose.offset.y);
    };
    RoiDrag& d = state_.roi_drag;
    switch (event) {
        case cv::EVENT_LBUTTONDOWN:
            d.v1 = to_view(state_.roi_p1);
            d.v2 = to_view(state_.roi_p2);
            d.mode = HitRoi(d.v1, d.v2, p, Checked(*this, ids::kRoi));
            d.press = d.last = p;
            d.corners = {state_.roi_p1, state_.roi_p2};
            return;
        case cv::EVENT_MOUSEMOVE:
            if (d.mode == kNoDrag) return;
            if (d.mode == kPan) {
                state_.image_offset += cv::Point2f(p - d.last);
                SyncScrollBars();
            } else {
                const RoiCorners c = DragRoi(d.corners, d.mode, d.v1, d.v2, p - d.press, pose);
                state_.roi_p1 = c.p1;
                state_.roi_p2 = c.p2;
            }
            d.last = p;
            break;
        case cv::EVENT_LBUTTONUP: {
            if (d.mode == kNoDrag) return;
            // Only a finished ROI drag asks for a new estimate: a pan leaves the ROI as it was.
            const bool roi_drag_done = d.mode != kPan;
            d.mode = kNoDrag;
            state_.roi = NormaliseRoi(state_.roi_p1, state_.roi_p2);
            if (roi_drag_done) state_.roi_changed = true;
            break;
        }
        case cv::EVENT_LBUTTONDBLCLK:
            SetImagePose(OneToOne(pose, state_.image_src.size(), view, p));
            break;
        case cv::EVENT_MOUSEWHEEL: {
            const int delta = cv::getMouseWheelDelta(flags);
            if (delta == 0) return;
            SetImagePose(WindowWheelZoom(pose, state_.image_src.size(), view, p, delta > 0));
            break;
        }
        default:
            return;
    }
    state_.image_redraw.Repaint();
}

// The model view: a left drag pans, a double-click shows one-to-one, and the wheel zooms with
// the dialog's steps (0.025 to 128), since a model image is often larger than its small view.
void CTessolinDlg::ModelMouse(int event, int x, int y, int flags) {
    if (state_.model_img.empty()) return;
    const cv::Size view = ToCv(state_.model_view_size);
    const cv::Point p = ClampToView({x, y}, view);
    const ViewPose pose{state_.model_zoom, cv::Point2f(state_.model_offset)};
    switch (event) {
        case cv::EVENT_LBUTTONDOWN:
            model_dragging_ = true;
            model_last_ = p;
            return;
        case cv::EVENT_MOUSEMOVE:
            if (!model_dragging_) return;
            state_.model_offset += p - model_last_;
            model_last_ = p;
            break;
        case cv::EVENT_LBUTTONUP:
            model_dragging_ = false;
            return;
        case cv::EVENT_LBUTTONDBLCLK:
            SetModelPose(OneToOne(pose, state_.model_img.size(), view, p));
            break;
        case cv::EVENT_MOUSEWHEEL: {
            const int delta = cv::getMouseWheelDelta(flags);
            if (delta == 0) return;
            SetModelPose(DialogWheelZoom(pose, state_.model_img.size(), view, p, delta > 0));
            break;
        }
        default:
            return;
    }
    state_.model_redraw.Show(ViewRedraw::Content::kPlain);
}

int CTessolinDlg::ViewUnder(const QPoint& global, cv::Point& local) const {
    const std::pair<CvViewHost*, int> views[] = {{image_view_.get(), kImageViewId},
                                                 {model_view_.get(), kModelViewId}};
    for (const auto& [host, which] : views) {
        if (!host || !host->Ok()) continue;
        const QWidget* viewport = host->View()->viewport();
        const QPoint at = viewport->mapFromGlobal(global);
        if (!viewport->rect().contains(at)) continue;
        local = cv::Point(at.x(), at.y());
        return which;
    }
    return kNoView;
}

void CTessolinDlg::OnMouseWheel(int delta, const QPoint& global) {
    cv::Point p;
    const int which = ViewUnder(global, p);
    if (delta == 0) return;
    if (which == kImageViewId && !state_.image_src.empty()) {
        SetImagePose(DialogWheelZoom({state_.image_zoom, state_.image_offset},
                                     state_.image_src.size(), ToCv(state_.image_view_size), p,
                                     delta > 0));
        state_.image_redraw.Repaint();
    } else if (which == kModelViewId && !state_.model_img.empty()) {
        SetModelPose(DialogWheelZoom({state_.model_zoom, cv::Point2f(state_.model_offset)},
                                     state_.model_img.size(), ToCv(state_.model_view_size), p,
                                     delta > 0));
        state_.model_redraw.Show(ViewRedraw::Content::kPlain);
    }
}

// ---- Menus ----

QMenu* CTessolinDlg::BuildMenu(QMenu*& menu, std::initializer_list<int> item_ids) {
    if (!menu) {
        menu = new QMenu(this);
        for (int id : item_ids) {
            QAction* action = menu->addAction(QString());
            action->setData(id);
            connect(action, &QAction::triggered, this, [this, id] { OnCommandId(id); });
        }
    }
    for (QAction* action : menu->actions())  // the texts follow the language
        if (const TextPair* text = MenuText(action->data().toInt()))
            action->setText(text->Get(state_.language));
    return menu;
}

void CTessolinDlg::OnContextMenu(const QPoint& global) {
    cv::Point p;
    const int which = ViewUnder(global, p);
    if (which == kNoView) return;
    state_.menu_view = which;
    state_.menu_place = p;
    BuildMenu(view_menu_, {ids::kLineWidth1, ids::kLineWidth2, ids::kSaveRoiImage,
                           ids::kShowFeaturePoints, ids::kZoomOneToOne, ids::kZoomFit})
        ->popup(global);
}

void CTessolinDlg::OnBnClickedMore() {
    QWidget* button = controls_.Get(ids::kMore);
    const QPoint below = button ? button->mapToGlobal(QPoint(0, button->height())) : QPoint();
    BuildMenu(more_menu_, {ids::kLineWidth1, ids::kLineWidth2, ids::kSaveRoiImage,
                           ids::kShowFeaturePoints, ids::kAbout})
        ->popup(below);
}

void CTessolinDlg::OnZoomOneToOne() {
    if (state_.menu_view == kImageViewId && !state_.image_src.empty()) {
        SetImagePose(OneToOne({state_.image_zoom, state_.image_offset}, state_.image_src.size(),
                              ToCv(state_.image_view_size), state_.menu_place));
        state_.image_redraw.Repaint();
    } else if (state_.menu_view == kModelViewId && !state_.model_img.empty()) {
        SetModelPose(OneToOne({state_.model_zoom, cv::Point2f(state_.model_offset)},
                              state_.model_img.size(), ToCv(state_.model_view_size),
                              state_.menu_place));
        state_.model_redraw.Show(ViewRedraw::Content::kPlain);
    }
}

void CTessolinDlg::OnZoomFit() {
    if (state_.menu_view == kImageViewId && !state_.image_src.empty()) {
        const cv::Size view = ToCv(state_.image_view_size);
        state_.image_fit_zoom = FitZoom(state_.image_src.size(), view);
        SetImagePose(CentredPose(state_.image_src.size(), view, state_.image_fit_zoom));
        state_.image_redraw.Repaint();
    } else if (state_.menu_view == kModelViewId && !state_.model_img.empty()) {
        const cv::Size view = ToCv(state_.model_view_size);
        state_.model_fit_zoom = FitZoom(state_.model_img.size(), view);
        SetModelPose(CentredPose(state_.model_img.size(), view, state_.model_fit_zoom));
        state_.model_redraw.Show(ViewRedraw::Content::kPlain);
    }
}

void CTessolinDlg::OnLineWidth1() {
    state_.line_width = 1;
    state_.image_redraw.Repaint();
    state_.model_redraw.Repaint();
}
void CTessolinDlg::OnLineWidth2() {
    state_.line_width = 2;
    state_.image_redraw.Repaint();
    state_.model_redraw.Repaint();
}

void CTessolinDlg::OnAbout() {
    prompts_->Message(this, text::kAboutBody.Get(state_.language));
}

// ---- ROI box and the draw label ----

void CTessolinDlg::OnBnClickedRoi() {
    ResetContrastRatio();
    state_.image_redraw.Repaint();
    if (Checked(*this, ids::kRoi)) state_.roi_changed = true;
}

void CTessolinDlg::OnStnDblclkDraw() {
    console_.Print(
        QString::asprintf("mRatioColor = %.3f\n", double(state_.contrast_ratio)).toStdString());
}

}  // namespace tessolin
