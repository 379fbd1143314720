#include "widgets/MsgWindow.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QUrl>

namespace tessolin {

CMsgWindow::CMsgWindow(QString title, QString body, QString link)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      title_(std::move(title)),
      body_(std::move(body)),
      link_(std::move(link)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(title_);
    setFixedSize(kWidth, kHeight);
    lifetime_.setSingleShot(true);
    connect(&lifetime_, &QTimer::timeout, this, [this] { SlideAway(300, false); });
}

QPoint NoticePlace(const QRect& area, QSize size, const std::vector<QRect>& avoid) {
    const int left = area.left(), top = area.top();
    const int right = area.right() - size.width() + 1, bottom = area.bottom() - size.height() + 1;
    QPoint best(right, bottom);
    long long least = -1;
    for (const QPoint corner : {QPoint(right, bottom), QPoint(right, top), QPoint(left, bottom),
                                QPoint(left, top)}) {
        const QRect place(corner, size);
        long long covered = 0;
        for (const QRect& r : avoid) {
            const QRect common = place.intersected(r);
            covered += (long long)common.width() * common.height();
        }
        if (least < 0 || covered < least) {
            least = covered;
            best = corner;
        }
    }
    return best;
}

void CMsgWindow::Popup(const std::vector<QRect>& avoid) {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(NoticePlace(screen->availableGeometry(), size(), avoid));
    show();
    lifetime_.start(kLifetimeMs);
}

void CMsgWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    QFont title_font(QStringLiteral("Arial"));
    title_font.setPixelSize(16);
    title_font.setBold(true);
    painter.setFont(title_font);
    painter.setPen(QColor(0x21, 0x21, 0x21));
    painter.drawText(QPoint(10, 10 + painter.fontMetrics().ascent()), title_);
    QFont body_font(QStringLiteral("Arial"));
    body_font.setPixelSize(14);
    painter.setFont(body_font);
    painter.setPen(QColor(0x42, 0x42, 0x42));
    painter.drawText(QRect(QPoint(10, 40), rect().bottomRight()), Qt::TextWordWrap, body_);
}

void CMsgWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        SlideAway(200, event->button() == Qt::LeftButton);
}

void CMsgWindow::SlideAway(int duration_ms, bool open_link) {
    if (leaving_) return;
    leaving_ = true;
    lifetime_.stop();
    auto* slide = new QPropertyAnimation(this, "pos", this);
    slide->setDuration(duration_ms);
    slide->setEndValue(pos() + QPoint(0, height()));
    connect(slide, &QPropertyAnimation::finished, this, [this, open_link] {
        const QUrl url(link_, QUrl::StrictMode);
        close();
        if (open_link && url.isValid() && !url.scheme().isEmpty()) QDesktopServices::openUrl(url);
    });
    slide->start();
}

}  // namespace tessolin
