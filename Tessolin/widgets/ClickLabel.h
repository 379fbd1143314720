// A plain label that reports a double-click with the left button.
#ifndef TESSOLIN_CLICK_LABEL_H
#define TESSOLIN_CLICK_LABEL_H

#include <QLabel>

namespace tessolin {

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace tessolin

#endif  // TESSOLIN_CLICK_LABEL_H
