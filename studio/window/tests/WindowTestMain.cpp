// The window tests run under one application object, offscreen unless told otherwise.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <clocale>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
