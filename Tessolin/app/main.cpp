#include <QApplication>

#include "app/TessolinApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tessolin::UseCNumericLocale();
    tessolin::CTessolinApp theApp;
    return theApp.InitInstance();
}
