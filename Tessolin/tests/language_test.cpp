#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QCheckBox>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>

#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"
#include "widgets/MsgWindow.h"

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
        dialog->Controls().As<QComboBox>(combo_ids[i])->setCurrentIndex(chosen[i]);
    auto* language = dialog->Controls().As<QAbstractButton>(ids::kLanguage);

    for (int flag : {1, 0}) {
        language->click();
        EXPECT_EQ(dialog->State().language, flag);
        EXPECT_EQ(language->text(), flag == 1 ? QString("EN") : QString("CH"));
        for (const tessolin::LabelText& label : tessolin::LabelTexts())
            EXPECT_EQ(Caption(dialog->Controls().Get(label.id)),
                      QString::fromUtf8(flag ? label.text.en : label.text.zh))
                << label.id;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(dialog->Controls().As<QComboBox>(combo_ids[i])->currentIndex(), chosen[i])
                << combo_ids[i];
        EXPECT_EQ(dialog->Controls().As<QComboBox>(ids::kMetricCombo)->itemText(2),
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
    EXPECT_EQ(dialog->Controls().Get(ids::kLanguage)->font().pointSize(), 10);
    dialog->ShowStatus("y", 0);
    EXPECT_EQ(QColor(status->grab().toImage().pixel(2, 2)), QColor(0, 0, 255));
}

// In both languages every visible control shows its whole text at the language's font size; the
// display score and details contrast spinners show, the ignore-polarity box does not; the ratio
// buttons are framed and explained; the start-up notice beside a dialog centred on a 1920 x 1080
// screen covers none of its controls.
TEST_F(DialogTest, EveryControlShowsItsWholeTextAndTheNoticeCoversNone) {
    for (const int id : {1101, 1102, 1105, 1106, 1107, 1108, ids::kIgnorePolarity})
        EXPECT_EQ(dialog->Controls().Get(id)->isVisible(), id != ids::kIgnorePolarity) << id;
    for (const int flag : {1, 0}) {
        dialog->OnBnClickedLanguage();
        for (const int id : dialog->Controls().Ids()) {
            QWidget* w = dialog->Controls().Get(id);
            const QFontMetrics fm(w->font());
            const bool button = qobject_cast<QPushButton*>(w);
            int need = qobject_cast<QCheckBox*>(w) ? w->sizeHint().width() : 0;
            if (button || qobject_cast<QLabel*>(w) || qobject_cast<QGroupBox*>(w))
                need = fm.horizontalAdvance(Caption(w)) + (button ? 16 : 0);  // Fusion's margins
            if (auto* combo = qobject_cast<QComboBox*>(w))
                for (int i = 0; i < combo->count(); ++i)
                    need = std::max(need, fm.horizontalAdvance(combo->itemText(i)) + 30);
            if (!w->isVisible() || id == ids::kStatus) continue;
            EXPECT_LE(need, w->width()) << id << " " << Caption(w).toStdString() << " " << flag;
            EXPECT_EQ(w->font().pointSize(), flag == 1 ? 10 : 12) << id;
        }
        auto* toolbar = dialog->findChild<QToolBar*>();
        for (QAction* a : toolbar->actions()) {
            EXPECT_EQ(a->toolTip(), tessolin::text::kRatioTip.Get(flag));
            EXPECT_FALSE(static_cast<QToolButton*>(toolbar->widgetForAction(a))->autoRaise());
        }
    }
    std::vector<QRect> avoid = dialog->NoticeAvoidRects();
    for (QRect& r : avoid) r.translate((1920 - dialog->width()) / 2, (1080 - dialog->height()) / 2);
    const QSize size(tessolin::CMsgWindow::kWidth, tessolin::CMsgWindow::kHeight);
    const QRect notice(tessolin::NoticePlace({0, 0, 1920, 1080}, size, avoid), size);
    for (const QRect& r : avoid) EXPECT_FALSE(notice.intersects(r)) << r.x() << "," << r.y();
}
