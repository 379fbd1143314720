#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <cstdio>

#include "app/TessolinApp.h"
#include "platform/ControlIds.h"
#include "platform/SingleInstance.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"

namespace ids = tessolin::ids;

TEST(SingleInstance, SecondHolderFailsUntilTheFirstReleases) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    tessolin::SingleInstance first("Tessolin", dir.path());
    tessolin::SingleInstance second("Tessolin", dir.path());
    ASSERT_TRUE(first.TryAcquire());
    EXPECT_FALSE(second.TryAcquire());
    first.Release();
    EXPECT_TRUE(second.TryAcquire());

    tessolin::FakePrompts prompts;  // the program refuses to start beside a running one
    EXPECT_EQ(tessolin::CTessolinApp(&prompts, dir.path()).InitInstance(), 1);
    EXPECT_EQ(prompts.messages, QStringList{QString::fromUtf8("Tessolin.exe已经打开!")});
}

TEST_F(DialogTest, EnterEscAndTabNeitherCloseTheDialogNorClickAnything) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    QSignalSpy clicked(dialog->Controls().As<QPushButton>(ids::kCreateModel),
                       &QPushButton::clicked);
    auto* language = dialog->Controls().As<QPushButton>(ids::kLanguage);
    QSignalSpy language_clicked(language, &QPushButton::clicked);
    for (int id : {ids::kDxEdit, ids::kLanguage, ids::kMetricCombo}) {
        QWidget* target = dialog->Controls().Get(id);
        QApplication::setActiveWindow(dialog.get());
        target->setFocus();
        for (Qt::Key key :
             {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Backtab})
            QTest::keyClick(target, key);
        EXPECT_EQ(QApplication::focusWidget(), target) << id;
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(language_clicked.count(), 0);
    EXPECT_EQ(dialog->State().language, 0);
}

TEST_F(DialogTest, ConsoleButtonsWriteOnlyWhileOpenAndClsRunsNoShell) {
    dialog->OnCommandId(ids::kPrint);
    EXPECT_EQ(console_out, "");  // closed
    dialog->OnCommandId(ids::kOpenConsole);
    dialog->OnCommandId(ids::kPrint);
    dialog->OnCommandId(ids::kCls);
    EXPECT_EQ(console_out, "world class\n" + std::string(tessolin::Console::kClearSequence));
    dialog->OnCommandId(ids::kCloseConsole);
    dialog->OnCommandId(ids::kPrint);
    EXPECT_EQ(console_out.size(), 12u + tessolin::Console::kClearSequence.size());
    auto* box = dialog->Controls().As<QAbstractButton>(ids::kConsole);  // the Console box
    for (const bool open : {true, false}) {
        box->click();
        EXPECT_EQ(dialog->DebugConsole().IsOpen(), open);
        EXPECT_EQ(box->isChecked(), open);
    }

    tessolin::Console on_stdout;  // closing the real console leaves stdout usable for a reopen
    on_stdout.Open();
    on_stdout.Close();
    EXPECT_FALSE(on_stdout.Print("closed\n"));
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1) << "closing the console closed stdout";
    on_stdout.Open();
    EXPECT_TRUE(on_stdout.Print("reopened\n"));
    EXPECT_EQ(std::ferror(stdout), 0);
    on_stdout.Close();
}

TEST_F(DialogTest, LanguageTooltipShowsTheImageSizeOnlyWithAnImage) {
    QWidget* button = dialog->Controls().Get(ids::kLanguage);
    auto tip = [&] {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(button, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    for (const char* hint :
         {"The current language is English, click the right button to change the language",
          "当前语言为中文,点击右边的按钮可以更改语言"}) {
        dialog->OnBnClickedLanguage();
        EXPECT_EQ(tip(), QString::fromUtf8(hint));
    }
    dialog->setSearchImage(cv::Mat(480, 640, CV_8UC1, cv::Scalar(0)));
    EXPECT_EQ(tip(), QString("640 x 480"));
    QToolTip::hideText();
}

TEST_F(DialogTest, DestroyWindowFreesEveryHeldModelOnce) {
    dialog->HoldModel(123456);
    dialog->HoldModel(123457);
    dialog->DestroyWindow();
    EXPECT_TRUE(dialog->State().held_model_ids.empty());
    dialog->HoldModel(7);
    dialog->DestroyWindow();  // a second call changes nothing
    EXPECT_EQ(dialog->State().held_model_ids.size(), 1u);
}

TEST(StatusLabelLinks, AreOffByDefaultAndOpenOnlyValidUrls) {
    tessolin::CLabel label;
    label.setText("https://example.org/a");
    EXPECT_FALSE(label.LinkTarget().isValid());
    label.SetLinksEnabled(true);
    EXPECT_EQ(label.LinkTarget().toString(), QString("https://example.org/a"));
    for (const char* text : {"rm -rf /", "Para Error (5.00)", "javascript:alert(1)", ""}) {
        label.setText(text);
        EXPECT_FALSE(label.LinkTarget().isValid()) << text;
    }
}
