// The dialog's small frame handlers: the command table, console buttons, tooltip, restore and
// tear-down.
#include <QAbstractButton>
#include <QHelpEvent>
#include <QToolTip>

#include "dialog/CommandSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "quro/quro.h"

namespace tessolin {

// The command table: every button, menu item and toolbar action by its id.
bool CTessolinDlg::OnCommandId(int id) {
    struct Command {
        int id;
        void (CTessolinDlg::*handler)();
    };
    static constexpr Command kCommands[] = {
        {ids::kPrint, &CTessolinDlg::OnBnClickedPrint},
        {ids::kCloseConsole, &CTessolinDlg::OnBnClickedClose},
        {ids::kCls, &CTessolinDlg::OnBnClickedCls},
        {ids::kOpenConsole, &CTessolinDlg::OnBnClickedOpen},
        {ids::kConsole, &CTessolinDlg::OnBnClickedConsole},
        {ids::kCreateModel, &CTessolinDlg::OnBnClickedCreateModel},
        {ids::kFindModel, &CTessolinDlg::OnBnClickedFindModel},
        {ids::kFindModels, &CTessolinDlg::OnBnClickedFindModels},
        {ids::kClearModels, &CTessolinDlg::OnBnClickedClearModels},
        {ids::kFindLargeImage, &CTessolinDlg::OnBnClickedFindLargeImage},
        {ids::kLanguage, &CTessolinDlg::OnBnClickedLanguage},
        // Views: zoom, line width, the ROI box and the "more" menu. The save-ROI and
        // feature-point items of the view menus arrive here too.
        {ids::kZoomOneToOne, &CTessolinDlg::OnZoomOneToOne},
        {ids::kZoomFit, &CTessolinDlg::OnZoomFit},
        {ids::kLineWidth1, &CTessolinDlg::OnLineWidth1},
        {ids::kLineWidth2, &CTessolinDlg::OnLineWidth2},
        {ids::kRoi, &CTessolinDlg::OnBnClickedRoi},
        {ids::kMore, &CTessolinDlg::OnBnClickedMore},
        {ids::kAbout, &CTessolinDlg::OnAbout},
        {ids::kSubPixelContour1, &CTessolinDlg::OnBnClickedSubPixelContour},
        {ids::kSubPixelContour2, &CTessolinDlg::OnBnClickedSubPixelContour},
        // Images, model files and DXF models.
        {ids::kSelectImage, &CTessolinDlg::OnBnClickedSelectImage},
        {ids::kSelectModelImage, &CTessolinDlg::OnBnClickedSelectModelImage},
        {ids::kSaveRoiImage, &CTessolinDlg::OnSaveRoiImage},
        {ids::kSaveModel, &CTessolinDlg::OnBnClickedSaveModel},
        {ids::kLoadModel, &CTessolinDlg::OnBnClickedLoadModel},
        {ids::kLoadShapeModel, &CTessolinDlg::OnLoadShapeModel},
        {ids::kShowFeaturePoints, &CTessolinDlg::OnShowFeaturePoints},
        {ids::kLoadPolygonModelPlus, &CTessolinDlg::OnLoadPolygonModelPlus},
        {ids::kLoadPolygonModelMinus, &CTessolinDlg::OnLoadPolygonModelMinus},
        {ids::kLoadXldContourModel, &CTessolinDlg::OnLoadXldContourModel},
        // Contrast ratio buttons.
        {ids::kToolbarButton1, &CTessolinDlg::OnToolbarButton1},
        {ids::kToolbarButton2, &CTessolinDlg::OnToolbarButton2},
        {ids::kToolbarButton3, &CTessolinDlg::OnToolbarButton3},
    };
    for (const Command& command : kCommands) {
        if (command.id != id) continue;
        (this->*command.handler)();
        return true;
    }
    return false;
}

void CTessolinDlg::OnBnClickedPrint() {
    console_.Print(text::kPrintLine);
}
void CTessolinDlg::OnBnClickedClose() {
    console_.Close();
    SyncConsoleBox();
}
void CTessolinDlg::OnBnClickedCls() {
    console_.Cls();
}
void CTessolinDlg::OnBnClickedOpen() {
    console_.Open();
    SyncConsoleBox();
}
// The Console box opens and closes the console; its tick follows the console's state.
void CTessolinDlg::OnBnClickedConsole() {
    if (Checked(*this, ids::kConsole))
        console_.Open();
    else
        console_.Close();
    SyncConsoleBox();
}
void CTessolinDlg::SyncConsoleBox() {
    if (auto* box = controls_.As<QAbstractButton>(ids::kConsole))
        box->setChecked(console_.IsOpen());
}

void CTessolinDlg::OnShowWindowMessage() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
    raise();
    activateWindow();
}

QString CTessolinDlg::OnToolTipNotify() const {
    if (state_.image_src.empty()) return text::kLanguageHint.Get(state_.language);
    return QStringLiteral("%1 x %2").arg(state_.image_src.cols).arg(state_.image_src.rows);
}

bool CTessolinDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && watched == controls_.Get(ids::kLanguage)) {
        const QString tip = OnToolTipNotify();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip,
                               controls_.Get(ids::kLanguage));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CTessolinDlg::DestroyWindow() {
    if (destroyed_) return;
    destroyed_ = true;
    OnBnClickedClearModels();
    OnDestroy();
}

void CTessolinDlg::OnDestroy() {
    timer_.stop();
}

}  // namespace tessolin
