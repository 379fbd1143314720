#include "platform/KeyFilter.h"

#include <QApplication>
#include <QKeyEvent>

namespace tessolin {

KeyFilter::KeyFilter(QWidget* dialog) : QObject(dialog), dialog_(dialog) {
    qApp->installEventFilter(this);
}

KeyFilter::~KeyFilter() {
    if (qApp) qApp->removeEventFilter(this);
}

bool KeyFilter::IsSwallowedKey(int key) {
    return key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
           key == Qt::Key_Enter || key == Qt::Key_Escape;
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    if (!IsSwallowedKey(static_cast<QKeyEvent*>(event)->key()) || !dialog_) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (widget != dialog_ && !dialog_->isAncestorOf(widget))) return false;
    if (type == QEvent::ShortcutOverride) event->accept();  // no shortcut may take the key either
    return true;
}

}  // namespace tessolin
