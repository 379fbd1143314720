// GoogleTest main of the program's tests: one QApplication for all tests, offscreen unless the
// caller chose a platform, and the C numeric locale as in the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>

#include "app/TessolinApp.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // test discovery: no GUI
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    tessolin::UseCNumericLocale();
    return RUN_ALL_TESTS();
}
