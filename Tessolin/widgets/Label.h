// CLabel: a static text with its own font, text colour and background, optional blinking, and
// optional links. Links are off by default: when on, a left click opens the label's text only
// when it is a valid http, https or file URL.
#ifndef TESSOLIN_LABEL_H
#define TESSOLIN_LABEL_H

#include <QColor>
#include <QLabel>
#include <QTimer>

namespace tessolin {

class CLabel : public QLabel {
    Q_OBJECT
public:
    enum BlinkType { kNoBlink = 0, kTextBlink = 1, kColourBlink = 2 };

    explicit CLabel(QWidget* parent = nullptr);

    void SetTextColor(const QColor& colour);
    void SetBkColor(const QColor& colour, const QColor& blink_colour = QColor());
    QColor BkColor() const { return background_; }
    // Starts (type 1 or 2, with the period in ms) or stops (type 0) blinking.
    void SetBlink(BlinkType type, int period_ms = 500);
    void SetLinksEnabled(bool on) { links_ = on; }
    // The URL a click would open, or an invalid URL (links off, or the text is no valid URL).
    QUrl LinkTarget() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void ApplyColours(bool blink_off_phase);
    void OnBlinkTimer();

    QColor text_colour_;
    QColor background_;
    QColor blink_background_;
    QString stored_text_;
    BlinkType blink_type_ = kNoBlink;
    bool blink_state_ = false;
    bool links_ = false;
    QTimer blink_timer_;
};

}  // namespace tessolin

#endif  // TESSOLIN_LABEL_H
