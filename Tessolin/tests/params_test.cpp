#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest/QTest>
#include <clocale>
#include <cmath>
#include <limits>

#include "app/TessolinApp.h"
#include "dialog/ParamCheck.h"
#include "platform/ControlIds.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"
#include "widgets/NumSpinCtrl.h"

namespace ids = tessolin::ids;
using tessolin::CNumSpinCtrl;

TEST(NumSpinCtrl, PositionCountIsTheTruncatedStepCountCappedAndSetPosClampsThePosition) {
    struct Case {
        double min, max, step;
        int count;
    };
    for (const Case& c : {Case{-180, 180, 1, 360}, Case{0, 11.25, 0.001, 11250},
                          Case{0, 1e6, 0.001, 32767}, Case{0, 1, 0, 100}}) {
        CNumSpinCtrl spin;
        spin.SetRangeAndDelta(c.min, c.max, c.step);
        EXPECT_EQ(spin.PositionCount(), c.count) << c.max;
        spin.SetPos(c.min - 1);
        EXPECT_EQ(spin.position(), 0);
        spin.SetPos(c.max + 1);
        EXPECT_EQ(spin.position(), c.count);
    }
}

TEST(NumSpinCtrl, FormatValueTrimsZerosAndKeepsTheExponent) {
    struct Case {
        int decimals;
        double value;
        const char* text;
    };
    for (const Case& c : {Case{2, 0.5, "0.5"}, Case{2, 1, "1"}, Case{2, 1e-20, "1e-20"},
                          Case{2, 0.55, "0.55"}, Case{-1, 0.1, "0.1"}, Case{2, 1.5e20, "1.5e+20"},
                          Case{0, 10, "10"}}) {
        CNumSpinCtrl spin;
        spin.SetDecimals(c.decimals);
        EXPECT_EQ(spin.FormatValue(c.value).toStdString(), c.text) << c.value;
    }
}

TEST(NumSpinCtrl, ReadsTheCFormUnderAnyLocale) {
    CNumSpinCtrl spin;
    spin.BuddyEdit()->setText(QStringLiteral("0.5"));
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const double read = spin.GetPos();
    spin.SetDecimals(2);
    const QString printed = spin.FormatValue(0.25);
    std::setlocale(LC_ALL, "C");
    tessolin::UseCNumericLocale();
    EXPECT_EQ(read, 0.5);
    EXPECT_EQ(printed, QStringLiteral("0.25"));
    spin.BuddyEdit()->setText(QStringLiteral("abc"));
    EXPECT_EQ(spin.GetPos(), 0.0);
}

TEST(NumSpinCtrl, AcceptsOnlyFormatsWithOneFloatConversion) {
    CNumSpinCtrl spin;
    for (const char* bad : {"%s", "%d", "%f %f", "%n", "100%"})
        EXPECT_FALSE(spin.SetFormat(QString::fromLatin1(bad))) << bad;
    ASSERT_TRUE(spin.SetFormat(QStringLiteral("%.3f mm")));
    spin.SetPos(2);
    EXPECT_EQ(spin.BuddyEdit()->text(), QStringLiteral("2.000 mm"));
}

TEST_F(DialogTest, SetupMapsBothIdsOfEverySpinnerAndSetsTheInitialValues) {
    const int edits[] = {1025, 1105, 1027, 1029, 1031, 1033, 1035, 1037, 1039,
                         1044, 1049, 1051, 1055, 1053, 1067, 1057, 1059};
    for (int id : edits) {
        ASSERT_NE(dialog->Spin(id), nullptr) << id;
        EXPECT_EQ(dialog->Spin(id), dialog->Controls().Get(id + 1)) << id;
    }
    EXPECT_EQ(dialog->Spin(ids::kNumLevelsEdit)->BuddyEdit()->text(), QStringLiteral("0"));
    EXPECT_EQ(dialog->Spin(ids::kNumLevelsEdit)->Minimum(), -1.0);
    EXPECT_EQ(dialog->Spin(ids::kGreedinessEdit)->BuddyEdit()->text(), QStringLiteral("0.75"));
    auto* details = dialog->Controls().As<QSpinBox>(ids::kDetailsContrastSpin);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details, dialog->Controls().Get(ids::kDetailsContrastEdit));
    EXPECT_EQ(std::make_tuple(details->minimum(), details->maximum(), details->value()),
              std::make_tuple(3, 255, 10));
    EXPECT_EQ(dialog->Controls().As<QComboBox>(ids::kMetricCombo)->currentIndex(), 2);
    const QRect view = dialog->Controls().Get(ids::kImageView)->geometry();
    EXPECT_EQ(view.size(), QSize(1026, 925));
    auto* v = dialog->Controls().As<QScrollBar>(ids::kVScroll);
    auto* h = dialog->Controls().As<QScrollBar>(ids::kHScroll);
    EXPECT_EQ(v->geometry().left(), view.right() + 1);
    EXPECT_EQ(h->geometry().top(), view.bottom() + 1);
    EXPECT_EQ(std::make_tuple(v->maximum(), v->pageStep(), h->maximum(), h->value()),
              std::make_tuple(1, 1, 1, 0));
    EXPECT_EQ(dialog->StatusLabel()->font().pixelSize(), 22);
}

TEST_F(DialogTest, TypedTextStaysUntilAnArrowStepClampsOrWrapsIt) {
    CNumSpinCtrl* score = dialog->Spin(ids::kMinScoreEdit);
    score->BuddyEdit()->selectAll();
    QTest::keyClicks(score, QStringLiteral("5"));
    QTest::keyClick(score, Qt::Key_PageUp);
    EXPECT_EQ(score->BuddyEdit()->text(), QStringLiteral("5"));
    score->stepBy(1);
    EXPECT_EQ(score->BuddyEdit()->text(), QStringLiteral("1"));
    score->setWrapping(true);
    score->stepBy(1);
    EXPECT_EQ(score->BuddyEdit()->text(), QStringLiteral("0.1"));
    score->setWrapping(false);
    QTest::keyClick(score, Qt::Key_Down);
    EXPECT_EQ(score->BuddyEdit()->text(), QStringLiteral("0.1"));
}

TEST_F(DialogTest, ScaleModeEnablesTheScaleRangeAndItsLabelTogglesIt) {
    auto* mode = dialog->Controls().As<QComboBox>(ids::kScaleModeCombo);
    CNumSpinCtrl* lo = dialog->Spin(ids::kScaleMinEdit);
    CNumSpinCtrl* hi = dialog->Spin(ids::kScaleMaxEdit);
    QWidget* label = dialog->Controls().Get(ids::kScaleModeLabel);
    auto range = [&] { return (lo->BuddyEdit()->text() + "/" + hi->BuddyEdit()->text()); };
    struct Step {
        int mode;
        const char* after;
    };
    // Equal scales take the mode's range, unequal ones go back to 1/1; "none" changes nothing.
    for (const Step& s : {Step{3, "0.9/1.1"}, Step{3, "1/1"}, Step{1, "0.5/2"}, Step{0, "0.5/2"},
                          Step{2, "1/1"}}) {
        mode->setCurrentIndex(s.mode);
        EXPECT_EQ(lo->isEnabled(), s.mode != 0);
        EXPECT_EQ(hi->isEnabled(), s.mode != 0);
        QTest::mouseDClick(label, Qt::LeftButton);
        EXPECT_EQ(range().toStdString(), s.after) << s.mode;
    }
}

TEST_F(DialogTest, UpdateDataRefusesABadFloatEditAndNamesIt) {
    struct Case {
        int id;
        const char* text;
        const char* name;
    };
    dialog->Controls().As<QLineEdit>(ids::kDxEdit)->setText(QStringLiteral("3.0"));
    ASSERT_TRUE(dialog->UpdateData(true));
    dialog->UpdateData(false);
    EXPECT_EQ(dialog->Controls().As<QLineEdit>(ids::kDxEdit)->text(), QStringLiteral("3"));
    for (const Case& c : {Case{ids::kDxEdit, "abc", "[DX]"}, Case{ids::kDyEdit, "nan", "[DY]"},
                          Case{ids::kLength1Edit, "1001", "[Length1]"},
                          Case{ids::kLength2Edit, "inf", "[Length2]"}}) {
        dialog->UpdateData(false);
        dialog->Controls().As<QLineEdit>(ids::kLength1Edit)->setText(QStringLiteral("7.5"));
        dialog->Controls().As<QLineEdit>(c.id)->setText(QString::fromLatin1(c.text));
        EXPECT_FALSE(dialog->UpdateData(true)) << c.text;
        EXPECT_TRUE(dialog->StatusLabel()->text().contains(QLatin1String(c.name))) << c.text;
        EXPECT_EQ(dialog->StatusLabel()->BkColor(), QColor(255, 0, 0));
        EXPECT_EQ(dialog->State().length1, 0.0f) << "a refused read stored a value";
    }
    dialog->Controls().As<QLineEdit>(ids::kLength2Edit)->setText(QStringLiteral("-2.5"));
    EXPECT_TRUE(dialog->UpdateData(true));
    EXPECT_EQ(std::make_tuple(dialog->State().dx, dialog->State().length1, dialog->State().length2),
              std::make_tuple(3.0f, 7.5f, -2.5f));
}

TEST(ParamCheck, RefusesNonFiniteAndHugeValuesAndPrintsWithTheParametersPrecision) {
    using tessolin::Param;
    const double inf = std::numeric_limits<double>::infinity();
    for (Param p : {Param::kMinScore, Param::kNumMatches, Param::kAngleStart})
        for (double v : {std::nan(""), inf, -inf, 1e300})
            EXPECT_FALSE(tessolin::CheckParam(p, v, 1).isEmpty()) << v;
    EXPECT_TRUE(tessolin::CheckParam(Param::kMinScore, 1.0, 0).isEmpty());
    EXPECT_EQ(tessolin::CheckParam(Param::kMinScore, 5, 1),
              QStringLiteral("Para Error: [MinScore]=(5.00),out of range [0.10, 1.00]"));
    EXPECT_EQ(tessolin::CheckParam(Param::kNumLevelsSearch, 11, 0),
              QStringLiteral("参数错误: [金字塔]=(11),范围应该在[-1, 10]之间"));
}
