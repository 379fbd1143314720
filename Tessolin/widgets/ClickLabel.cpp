#include "widgets/ClickLabel.h"

#include <QMouseEvent>

namespace tessolin {

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked();
    QLabel::mouseDoubleClickEvent(event);
}

}  // namespace tessolin
