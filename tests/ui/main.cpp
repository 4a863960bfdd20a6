// The widget tests run inside one QApplication (offscreen platform) with a private settings
// store.
#include <gtest/gtest.h>

#include <QApplication>

#include "qttestsupport.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    isolateSettings();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
