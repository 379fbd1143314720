// tessolin_grab out.png [delay_ms]: saves the whole primary screen after the delay (default
// 3000 ms). Used beside the running program under xvfb-run.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessolin_grab out.png [delay_ms]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QThread::msleep(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 3000);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "tessolin_grab: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
