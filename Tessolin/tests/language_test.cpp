#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include "ControlIds.h"
#include "Label.h"
#include "Texts.h"
#include "tests/dialog_fixture.h"

namespace ids = tessolin::ids;

namespace {

QString Caption(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return QStringLiteral("<no control>");
}

}  // namespace

TEST_F(DialogTest, LanguageButtonSwitchesEveryLabelAndKeepsComboSelections) {
    const int combo_ids[] = {ids::kScaleModeCombo, ids::kSubPixelCombo, ids::kMetricCombo,
                             ids::kDrawCombo, ids::kMaxDeformationCombo};
    const int chosen[] = {3, 2, 1, 4, 17};  // the last item of most lists
    for (int i = 0; i < 5; ++i)
        dialog->controls.As<QComboBox>(combo_ids[i])->setCurrentIndex(chosen[i]);
    auto* language = dialog->controls.As<QAbstractButton>(ids::kLanguage);

    for (int flag : {1, 0}) {
        language->click();
        EXPECT_EQ(dialog->language, flag);
        EXPECT_EQ(language->text(), flag == 1 ? QString("EN") : QString("CH"));
        for (const tessolin::LabelText& label : tessolin::LabelTexts())
            EXPECT_EQ(Caption(dialog->controls.Get(label.id)),
                      QString::fromUtf8(flag ? label.text.en : label.text.zh))
                << label.id;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(dialog->controls.As<QComboBox>(combo_ids[i])->currentIndex(), chosen[i])
                << combo_ids[i];
        EXPECT_EQ(dialog->controls.As<QComboBox>(ids::kMetricCombo)->itemText(2),
                  flag == 1 ? QString("use polarity") : QString::fromUtf8("使用极性"));
    }
}

TEST_F(DialogTest, StatusIsWhiteOnTheLevelColourAndKeepsItsFontAcrossLanguages) {
    dialog->ShowStatus("x", 1);
    tessolin::CLabel* status = dialog->StatusLabel();
    EXPECT_EQ(status->text(), QString("x"));
    const QImage shot = status->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(2, 2)), QColor(255, 0, 0));
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(Qt::white));
    bool white_text = false;
    for (int y = 0; y < shot.height() && !white_text; ++y)
        for (int x = 0; x < shot.width() && !white_text; ++x)
            white_text = QColor(shot.pixel(x, y)) == Qt::white;
    EXPECT_TRUE(white_text);

    const QFont before = status->font();
    EXPECT_EQ(before.pixelSize(), 22);
    EXPECT_TRUE(before.bold());
    dialog->OnBnClickedLanguage();
    EXPECT_EQ(status->font(), before);
    EXPECT_EQ(dialog->controls.Get(ids::kLanguage)->font().pointSize(), 10);
    dialog->ShowStatus("y", 0);
    EXPECT_EQ(QColor(status->grab().toImage().pixel(2, 2)), QColor(0, 0, 255));
}

// Every visible control shows its whole text in both languages at the language's font size: a
// label its caption, a button its caption and margins, a check box its box and caption, a combo
// box its longest item and arrow. The display score and details contrast spinners are shown
// with their labels; the ignore-polarity box is not. The ratio buttons look like buttons.
TEST_F(DialogTest, EveryControlFitsItsTextInBothLanguages) {
    for (const auto& [id, shown] : {std::pair{ids::kDisplayScoreEdit, true}, {1106, true},
                                    {ids::kDetailsContrastEdit, true}, {1102, true},
                                    {ids::kDisplayScoreLabel, true},
                                    {ids::kDetailsContrastLabel, true},
                                    {ids::kIgnorePolarity, false}})
        EXPECT_EQ(dialog->controls.Get(id)->isVisible(), shown) << id;
    for (const int flag : {1, 0}) {
        dialog->OnBnClickedLanguage();
        const int points = flag == 1 ? 10 : 12;
        for (const int id : dialog->controls.Ids()) {
            QWidget* w = dialog->controls.Get(id);
            if (!w->isVisible() || id == ids::kStatus) continue;
            const QFontMetrics fm(w->font());
            int need = 0;
            if (qobject_cast<QLabel*>(w) || qobject_cast<QGroupBox*>(w)) {
                need = fm.horizontalAdvance(Caption(w));
            } else if (qobject_cast<QPushButton*>(w)) {
                need = fm.horizontalAdvance(Caption(w)) +
                       2 * (w->style()->pixelMetric(QStyle::PM_ButtonMargin) +
                            w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
            } else if (qobject_cast<QAbstractButton*>(w)) {
                need = w->sizeHint().width();
            } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
                for (int i = 0; i < combo->count(); ++i)
                    need = std::max(need, fm.horizontalAdvance(combo->itemText(i)) +
                                              w->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                                              12);
            }
            EXPECT_LE(need, w->width()) << id << " " << Caption(w).toStdString() << " " << flag;
            EXPECT_EQ(w->font().pointSize(), points) << id;
        }
        const QList<QAction*> ratios = dialog->findChild<QToolBar*>()->actions();
        ASSERT_EQ(ratios.size(), 3);
        for (QAction* a : ratios) {
            EXPECT_EQ(a->toolTip(), flag == 1 ? QString("edge strength ratio for the contrast "
                                                         "proposal")
                                              : QString::fromUtf8("对比度建议的边缘强度比例"));
            auto* button = qobject_cast<QToolButton*>(
                dialog->findChild<QToolBar*>()->widgetForAction(a));
            EXPECT_TRUE(button && !button->autoRaise());
        }
    }
}
