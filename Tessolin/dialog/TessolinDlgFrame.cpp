// The dialog's small frame handlers: command dispatch, console buttons, tooltip, restore and
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

bool CTessolinDlg::OnCommandId(int id) {
    switch (id) {
        case ids::kPrint:
            OnBnClickedPrint();
            return true;
        case ids::kCloseConsole:
            OnBnClickedClose();
            return true;
        case ids::kCls:
            OnBnClickedCls();
            return true;
        case ids::kOpenConsole:
            OnBnClickedOpen();
            return true;
        case ids::kConsole:
            OnBnClickedConsole();
            return true;
        case ids::kCreateModel:
            OnBnClickedCreateModel();
            return true;
        case ids::kFindModel:
            OnBnClickedFindModel();
            return true;
        case ids::kFindModels:
            OnBnClickedFindModels();
            return true;
        case ids::kClearModels:
            OnBnClickedClearModels();
            return true;
        case ids::kFindLargeImage:
            OnBnClickedFindLargeImage();
            return true;
        case ids::kLanguage:
            OnBnClickedLanguage();
            return true;
        // Views: zoom, line width, the ROI box and the "more" menu. The save-ROI and
        // feature-point items of the view menus arrive here too.
        case ids::kZoomOneToOne:
            OnZoomOneToOne();
            return true;
        case ids::kZoomFit:
            OnZoomFit();
            return true;
        case ids::kLineWidth1:
            OnLineWidth1();
            return true;
        case ids::kLineWidth2:
            OnLineWidth2();
            return true;
        case ids::kRoi:
            OnBnClickedRoi();
            return true;
        case ids::kMore:
            OnBnClickedMore();
            return true;
        case ids::kAbout:
            OnAbout();
            return true;
        case ids::kSubPixelContour1:
        case ids::kSubPixelContour2:
            OnBnClickedSubPixelContour();
            return true;
        // Images, model files and DXF models.
        case ids::kSelectImage:
            OnBnClickedSelectImage();
            return true;
        case ids::kSelectModelImage:
            OnBnClickedSelectModelImage();
            return true;
        case ids::kSaveRoiImage:
            OnSaveRoiImage();
            return true;
        case ids::kSaveModel:
            OnBnClickedSaveModel();
            return true;
        case ids::kLoadModel:
            OnBnClickedLoadModel();
            return true;
        case ids::kLoadShapeModel:
            OnLoadShapeModel();
            return true;
        case ids::kShowFeaturePoints:
            OnShowFeaturePoints();
            return true;
        case ids::kLoadPolygonModelPlus:
            OnLoadPolygonModelPlus();
            return true;
        case ids::kLoadPolygonModelMinus:
            OnLoadPolygonModelMinus();
            return true;
        case ids::kLoadXldContourModel:
            OnLoadXldContourModel();
            return true;
        // Contrast ratio buttons.
        case ids::kToolbarButton1:
            OnToolbarButton1();
            return true;
        case ids::kToolbarButton2:
            OnToolbarButton2();
            return true;
        case ids::kToolbarButton3:
            OnToolbarButton3();
            return true;
        default:
            return false;
    }
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
    if (auto* box = controls.As<QAbstractButton>(ids::kConsole)) box->setChecked(console_.IsOpen());
}

void CTessolinDlg::OnShowWindowMessage() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
    raise();
    activateWindow();
}

QString CTessolinDlg::OnToolTipNotify() const {
    if (image_src.empty()) return text::kLanguageHint.Get(language);
    return QStringLiteral("%1 x %2").arg(image_src.cols).arg(image_src.rows);
}

bool CTessolinDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && watched == controls.Get(ids::kLanguage)) {
        const QString tip = OnToolTipNotify();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip,
                               controls.Get(ids::kLanguage));
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
