#include "widgets/Label.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace tessolin {

CLabel::CLabel(QWidget* parent) : QLabel(parent) {
    text_colour_ = palette().color(QPalette::WindowText);
    background_ = palette().color(QPalette::Button);
    connect(&blink_timer_, &QTimer::timeout, this, &CLabel::OnBlinkTimer);
}

void CLabel::SetTextColor(const QColor& colour) {
    text_colour_ = colour;
    ApplyColours(false);
}

void CLabel::SetBkColor(const QColor& colour, const QColor& blink_colour) {
    background_ = colour;
    blink_background_ = blink_colour.isValid() ? blink_colour : colour;
    setAutoFillBackground(true);
    ApplyColours(false);
}

void CLabel::ApplyColours(bool blink_off_phase) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, text_colour_);
    p.setColor(QPalette::Window, blink_off_phase ? blink_background_ : background_);
    setPalette(p);
}

void CLabel::SetBlink(BlinkType type, int period_ms) {
    if (blink_type_ == kTextBlink && blink_state_) setText(stored_text_);
    blink_type_ = type;
    blink_state_ = false;
    ApplyColours(false);
    if (type == kNoBlink) {
        blink_timer_.stop();
        return;
    }
    stored_text_ = text();
    blink_timer_.start(period_ms);
}

void CLabel::OnBlinkTimer() {
    blink_state_ = !blink_state_;
    if (blink_type_ == kTextBlink)
        setText(blink_state_ ? QString() : stored_text_);
    else
        ApplyColours(blink_state_);
}

QUrl CLabel::LinkTarget() const {
    if (!links_) return QUrl();
    const QUrl url(text().trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != "http" && scheme != "https" && scheme != "file"))
        return QUrl();
    return url;
}

void CLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QUrl url = LinkTarget();
        if (url.isValid()) QDesktopServices::openUrl(url);
    }
    QLabel::mousePressEvent(event);
}

}  // namespace tessolin
