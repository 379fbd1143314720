// Contrast proposal in the dialog: the three ratio buttons of the toolbar and the estimate written
// into the ContrastLow, ContrastHigh, MinContrast and MinCompSize spinners.
#include <QAction>
#include <QToolBar>
#include <QToolButton>
#include <cmath>
#include <string>

#include "core/ContrastEstimate.h"
#include "dialog/CommandSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "widgets/NumSpinCtrl.h"

namespace tessolin {
namespace {

struct RatioButton {
    int id;
    const char* text;
};
constexpr RatioButton kRatioButtons[] = {
    {ids::kToolbarButton1, "0.25"}, {ids::kToolbarButton2, "0.375"}, {ids::kToolbarButton3, "0.5"}};

}  // namespace

void CTessolinDlg::CreateContrastToolbar() {
    if (!toolbar_) return;
    for (const RatioButton& b : kRatioButtons) {
        QAction* action = toolbar_->addAction(QString::fromLatin1(b.text));
        const int id = b.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommandId(id); });
        // Plain toolbar text does not look like something to click.
        if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(action)))
            button->setAutoRaise(false);
    }
    UpdateContrastToolbar();
}

void CTessolinDlg::UpdateContrastToolbar() {
    if (!toolbar_) return;
    for (QAction* action : toolbar_->actions())
        action->setToolTip(text::kRatioTip.Get(state_.language));
}

void CTessolinDlg::OnToolbarButton1() {
    OnContrastRatio(0.25);
}
void CTessolinDlg::OnToolbarButton2() {
    OnContrastRatio(kDefaultContrastRatio);
}
void CTessolinDlg::OnToolbarButton3() {
    OnContrastRatio(0.5);
}

void CTessolinDlg::OnContrastRatio(float ratio) {
    if (state_.model_img.empty()) return;
    state_.contrast_ratio = ratio;
    if (Checked(*this, ids::kRoi)) {
        // The next timer tick estimates on the ROI of the search image.
        if (state_.image_redraw.Shows() == ViewRedraw::Content::kNothing)
            state_.image_redraw.Show(ViewRedraw::Content::kPlain);
        else
            state_.image_redraw.Repaint();
        state_.roi_changed = true;
        return;
    }
    EstimateContrast(state_.contrast_ratio, state_.model_img);
}

void CTessolinDlg::ResetContrastRatio() {
    state_.contrast_ratio = kDefaultContrastRatio;
}

void CTessolinDlg::EstimateContrast(double ratio, const cv::Mat& image) {
    ContrastEstimate e;
    try {
        e = EstimateContrastParams(image, ratio);
    } catch (const cv::Exception& error) {
        console_.Print(std::string("EstimateContrast: ") + error.what() + "\n");
        return;
    }
    if (!e.analysed) return;
    const struct {
        int id;
        double value;
    } results[] = {{ids::kContrastLowEdit, e.low},
                   {ids::kContrastHighEdit, e.high},
                   {ids::kMinContrastEdit, e.min_contrast},
                   {ids::kMinCompSizeEdit, e.component_size}};
    for (const auto& r : results)
        if (CNumSpinCtrl* spin = Spin(r.id)) spin->SetPos(r.value);
}

}  // namespace tessolin
