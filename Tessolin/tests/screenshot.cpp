// tessolin_screenshot out.png [--en]: saves grab() of the real dialog (English with --en), with a
// status line, without the start-up notice or the console.
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TessolinApp.h"
#include "TessolinDlg.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessolin_screenshot out.png [--en]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    tessolin::UseCNumericLocale();
    tessolin::DialogOptions options;
    options.notice = false;
    options.console = false;
    tessolin::CTessolinDlg dialog(options);
    if (argc > 2 && std::strcmp(argv[2], "--en") == 0) dialog.OnBnClickedLanguage();
    dialog.ShowStatus(dialog.language == 1 ? "Ready" : "就绪", 0);
    dialog.show();
    QApplication::processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "tessolin_screenshot: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
