// tessolin_screenshot out.png [--en] [--sample model.png scene.png]: saves grab() of the real
// dialog (English with --en), with a status line, without the start-up notice or the console.
// With --sample it first creates a model from the model image and finds it in the scene, as a
// user would with the buttons, so that the picture shows the views at work.
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

#include "app/TessolinApp.h"
#include "dialog/TessolinDlg.h"

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
    bool sample = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--en") == 0) {
            dialog.OnBnClickedLanguage();
        } else if (std::strcmp(argv[i], "--sample") == 0 && i + 2 < argc) {
            const cv::Mat model = cv::imread(argv[i + 1], cv::IMREAD_GRAYSCALE);
            const cv::Mat scene = cv::imread(argv[i + 2], cv::IMREAD_GRAYSCALE);
            if (model.empty() || scene.empty()) {
                std::fprintf(stderr, "tessolin_screenshot: cannot read %s or %s\n", argv[i + 1],
                             argv[i + 2]);
                return 1;
            }
            dialog.setModelImage(model, cv::Mat());
            dialog.OnBnClickedCreateModel();
            dialog.setSearchImage(scene);
            dialog.FitImageView();
            dialog.OnBnClickedFindModel();
            sample = true;
            i += 2;
        }
    }
    if (!sample) dialog.ShowStatus(dialog.State().language == 1 ? "Ready" : "就绪", 0);
    dialog.show();
    QApplication::processEvents();
    dialog.OnTimer();
    QApplication::processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "tessolin_screenshot: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
