// CNumSpinCtrl: a spinner over a real-valued range with a fixed step and a display precision. The
// value lives in the spinner's own line edit (its buddy edit), so the user may type any text: it
// stays as typed until an arrow step replaces it. The wheel and PageUp/PageDown do nothing.
#ifndef TESSOLIN_NUM_SPIN_CTRL_H
#define TESSOLIN_NUM_SPIN_CTRL_H

#include <QAbstractSpinBox>
#include <QString>

class QLineEdit;

namespace tessolin {

class CNumSpinCtrl : public QAbstractSpinBox {
    Q_OBJECT
public:
    static constexpr int kMaxPositions = 32767;

    explicit CNumSpinCtrl(QWidget* parent = nullptr);

    // Stores the range and the step. With step 0 nothing else happens; otherwise the position
    // count becomes |(max - min) / step| truncated (at most kMaxPositions) and the position is
    // derived again from the current text.
    void SetRangeAndDelta(double min, double max, double step);
    // Writes value into the edit (with the format when one is set) and moves the position.
    void SetPos(double value);
    // The edit's text read in the C form; 0 for text that is no number.
    double GetPos() const;
    // value as the edit shows it: "%g" with decimals -1, else fixed (or, for values that "%g"
    // prints with an exponent, exponent form) with that many decimals, trailing zeros trimmed.
    QString FormatValue(double value) const;
    // One arrow step of delta steps: past an end the value wraps (wrapping()) or stops at the
    // end it crossed, with a relative tolerance of 1e-9. Changes the text, not the position.
    void OnDeltapos(int delta);

    // Digits after the point, -1 for "%g".
    void SetDecimals(int decimals) { decimals_ = decimals; }
    // A printf format with exactly one floating conversion (%e %f %g %E %F %G, optional flags,
    // width and precision), or empty for FormatValue. False, and nothing stored, for any other.
    bool SetFormat(const QString& format);

    int position() const { return position_; }
    int PositionCount() const { return count_; }
    double Minimum() const { return min_; }
    double Maximum() const { return max_; }
    double Step() const { return step_; }
    QLineEdit* BuddyEdit() const { return lineEdit(); }

    void stepBy(int steps) override { OnDeltapos(steps); }
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
    void fixup(QString&) const override {}

protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdatePosition(double value);
    QString Trim(QString text) const;
    // value as written into the edit: with the format when one is set, else FormatValue.
    QString Text(double value) const;

    double min_ = 0.0;
    double max_ = 100.0;
    double step_ = 1.0;
    int count_ = 100;
    int position_ = 0;
    int decimals_ = -1;
    QString format_;
    // The text is always written and read in the C form, so the point is '.' in any locale.
    char decimal_point_ = '.';
};

}  // namespace tessolin

#endif  // TESSOLIN_NUM_SPIN_CTRL_H
