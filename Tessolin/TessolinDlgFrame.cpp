// The dialog's small frame handlers: command dispatch, console buttons, tooltip, restore and
// tear-down.
#include <QHelpEvent>
#include <QToolTip>

#include "ControlIds.h"
#include "TessolinDlg.h"
#include "Texts.h"
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
        case ids::kCreateModel:
            OnBnClickedCreateModel();
            return true;
        case ids::kFindModel:
            OnBnClickedFindModel();
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
        case ids::kSubPixelContour1:
        case ids::kSubPixelContour2:
            OnBnClickedSubPixelContour();
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
}
void CTessolinDlg::OnBnClickedCls() {
    console_.Cls();
}
void CTessolinDlg::OnBnClickedOpen() {
    console_.Open();
}

void CTessolinDlg::OnShowWindowMessage() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
    raise();
    activateWindow();
}

QString CTessolinDlg::OnToolTipNotify() const {
    if (image_src.empty()) return QString();
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
