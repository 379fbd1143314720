// A dialog as the tests use it: no start-up notice, the console captured instead of stdout.
#ifndef TESSOLIN_DIALOG_FIXTURE_H
#define TESSOLIN_DIALOG_FIXTURE_H

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <string>

#include "dialog/TessolinDlg.h"
#include "tests/platform_fakes.h"

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        tessolin::DialogOptions options;
        options.notice = false;
        options.console = false;
        dialog = std::make_unique<tessolin::CTessolinDlg>(options, &dialogs, &prompts);
        dialog->DebugConsole().SetSink([this](std::string_view s) { console_out += s; });
        dialog->show();
    }
    void TearDown() override { dialog.reset(); }

    tessolin::FakeFileDialogs dialogs;
    tessolin::FakePrompts prompts;
    std::unique_ptr<tessolin::CTessolinDlg> dialog;
    std::string console_out;
};

#endif  // TESSOLIN_DIALOG_FIXTURE_H
