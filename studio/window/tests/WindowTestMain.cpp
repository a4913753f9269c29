// The window tests run under one application object, offscreen unless told otherwise.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>

#include <QApplication>
#include <clocale>

#include "engine/settings/RootFolder.h"
#include "engine/testsupport/TempFolder.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    // The process's root, as the program sets it at start-up: scripts resolve server paths
    // under its webroot.
    CTempFolder root;
    mkdir((root.Path() + "/webroot").c_str(), 0755);
    SetRootFolder(root.Path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
