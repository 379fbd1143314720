#include "widgets/NumSpinCtrl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "widgets/CNumber.h"

namespace tessolin {

CNumSpinCtrl::CNumSpinCtrl(QWidget* parent) : QAbstractSpinBox(parent) {
    setKeyboardTracking(false);
    setAccelerated(false);
}

void CNumSpinCtrl::SetRangeAndDelta(double min, double max, double step) {
    min_ = min;
    max_ = max;
    step_ = step;
    if (step == 0.0) return;
    // Checked as a double first: a NaN, infinite or huge quotient must not reach the int cast.
    const double count = std::fabs((max - min) / step);
    count_ = count < kMaxPositions ? static_cast<int>(count) : kMaxPositions;
    UpdatePosition(GetPos());
}

void CNumSpinCtrl::SetPos(double value) {
    lineEdit()->setText(Text(value));
    UpdatePosition(value);
}

void CNumSpinCtrl::UpdatePosition(double value) {
    if (max_ == min_) return;
    if (std::isnan(value) || value < min_)
        position_ = 0;
    else if (value > max_)
        position_ = count_;
    else
        position_ = static_cast<int>((value - min_) / (max_ - min_) * count_ + 0.5);
}

double CNumSpinCtrl::GetPos() const {
    double value = 0.0;
    return ParseC(lineEdit()->text(), &value) ? value : 0.0;
}

QString CNumSpinCtrl::Trim(QString text) const {
    if (!text.contains(QLatin1Char(decimal_point_))) return text;
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char(decimal_point_))) text.chop(1);
    return text;
}

QString CNumSpinCtrl::FormatValue(double value) const {
    const QString general = PrintC(value, 'g');
    if (decimals_ < 0) return general;
    const int e = general.indexOf(QLatin1Char('e'));
    if (e < 0) return Trim(PrintC(value, 'f', decimals_));
    const QString text = PrintC(value, 'e', decimals_);
    const int exponent = text.indexOf(QLatin1Char('e'));
    return Trim(text.left(exponent)) + text.mid(exponent);
}

bool CNumSpinCtrl::SetFormat(const QString& format) {
    static const QRegularExpression kOneFloat(
        QStringLiteral("^(?:[^%]|%%)*%[-+ #0]*\\d*(?:\\.\\d*)?[eEfFgG](?:[^%]|%%)*$"));
    if (!format.isEmpty() && !kOneFloat.match(format).hasMatch()) return false;
    format_ = format;
    return true;
}

void CNumSpinCtrl::OnDeltapos(int delta) {
    double value = GetPos() + delta * step_;
    const bool wrap = wrapping();
    if (delta < 0) {
        const double tolerance = std::max(1e-9, std::fabs(std::max(value, min_)) * 1e-9);
        if (min_ - value > tolerance) value = wrap ? max_ : min_;
    } else {
        const double tolerance = std::max(1e-9, std::fabs(std::max(value, max_)) * 1e-9);
        if (value - max_ > tolerance) value = wrap ? min_ : max_;
    }
    lineEdit()->setText(Text(value));
}

QString CNumSpinCtrl::Text(double value) const {
    if (format_.isEmpty()) return FormatValue(value);
    return QString::asprintf(format_.toLatin1().constData(), value);
}

void CNumSpinCtrl::wheelEvent(QWheelEvent* event) {
    event->accept();
}

void CNumSpinCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        event->accept();
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

}  // namespace tessolin
