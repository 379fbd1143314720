// Language switch, status line and label colours of the dialog.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "widgets/Label.h"

namespace tessolin {
namespace {

void SetCaption(QWidget* widget, const QString& text) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(text);
}

void Refill(QComboBox* combo, const QStringList& items) {
    if (!combo) return;
    const int index = combo->currentIndex();
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(index >= 0 && index < items.size() ? index : 0);
}

// A caption wider than its label gets a smaller font (down to 6 points) instead of being cut.
void FitCaption(QWidget* widget) {
    auto* label = qobject_cast<QLabel*>(widget);
    if (!label || label->text().isEmpty()) return;
    QFont font = label->font();
    while (font.pointSize() > 6 &&
           QFontMetrics(font).horizontalAdvance(label->text()) > label->width() - 2)
        font.setPointSize(font.pointSize() - 1);
    label->setFont(font);
}

}  // namespace

void CTessolinDlg::ApplyLanguage(int flag) {
    state_.language = flag == 1 ? 1 : 0;
    const QFont& font = state_.language == 1 ? state_.font10 : state_.font12;
    for (QWidget* child : findChildren<QWidget*>()) {
        if (child != status_ && !status_->isAncestorOf(child)) child->setFont(font);
    }
    QWidget* button = controls_.Get(ids::kLanguage);
    SetCaption(button, text::kLanguageButton.Get(state_.language));
    setWindowTitle(text::kWindowTitle.Get(state_.language));
    for (const LabelText& label : LabelTexts()) {
        SetCaption(controls_.Get(label.id), label.text.Get(state_.language));
        FitCaption(controls_.Get(label.id));
    }
    RefillCombos();
    UpdateContrastToolbar();

    OnCbnSelchangeScaleMode();
    for (int id : {ids::kSubPixelContour1, ids::kSubPixelContour2})
        if (QWidget* w = controls_.Get(id)) w->hide();
    OnCtlColor();
}

void CTessolinDlg::RefillCombos() {
    Refill(controls_.As<QComboBox>(ids::kScaleModeCombo), ScaleModeItems(state_.language));
    Refill(controls_.As<QComboBox>(ids::kSubPixelCombo), SubPixelItems(state_.language));
    Refill(controls_.As<QComboBox>(ids::kMetricCombo), MetricItems(state_.language));
    Refill(controls_.As<QComboBox>(ids::kDrawCombo), DrawItems(state_.language));
    Refill(controls_.As<QComboBox>(ids::kMaxDeformationCombo), MaxDeformationItems());
}

void CTessolinDlg::OnBnClickedLanguage() {
    ApplyLanguage(1 - state_.language);
}

void CTessolinDlg::ShowStatus(const QString& text, int level) {
    static const QColor kLevelColours[] = {QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 255, 0)};
    const QColor background = kLevelColours[level >= 0 && level <= 2 ? level : 0];
    status_->SetBkColor(background);
    status_->SetTextColor(Qt::white);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    status_->setText(text);
    status_->repaint();  // a blocking library call usually follows
}

void CTessolinDlg::OnCtlColor() {
    const std::pair<int, QColor> kColoured[] = {{ids::kSubPixelLabel, QColor(255, 0, 0)},
                                                {ids::kScaleModeLabel, QColor(255, 0, 255)}};
    for (const auto& [id, colour] : kColoured) {
        QWidget* label = controls_.Get(id);
        if (!label) continue;
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, colour);
        label->setPalette(p);
        label->setAutoFillBackground(false);
    }
}

}  // namespace tessolin
