// CMsgWindow: the start-up notice. A small tool window at the bottom right of the screen, on top
// of the others and never taking the focus; it slides away after 15 s or on a click and deletes
// itself. A left click opens its link afterwards, when the link is a valid URL.
#ifndef TESSOLIN_MSG_WINDOW_H
#define TESSOLIN_MSG_WINDOW_H

#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

namespace tessolin {

class CMsgWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 180;
    static constexpr int kLifetimeMs = 15000;

    CMsgWindow(QString title, QString body, QString link = QString());
    // Places the window in a corner of the available screen area (NoticePlace) and shows it
    // without activating it; the lifetime starts now. avoid: screen rectangles not to cover.
    void Popup(const std::vector<QRect>& avoid = {});

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // Hides with a downward slide of duration_ms, then closes (which deletes the window) and
    // opens the link when open_link is set.
    void SlideAway(int duration_ms, bool open_link);

    QString title_;
    QString body_;
    QString link_;
    QTimer lifetime_;
    bool leaving_ = false;
};

// Top-left corner for a window of size in area: the first of the corners bottom right, top right,
// bottom left, top left where it covers none of the avoid rectangles, else the one where it
// covers the least of them.
QPoint NoticePlace(const QRect& area, QSize size, const std::vector<QRect>& avoid);

}  // namespace tessolin

#endif  // TESSOLIN_MSG_WINDOW_H
