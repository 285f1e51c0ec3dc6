// The GUI tests run the real widgets without a display (offscreen), in the UTC time zone.
#include <QApplication>
#include <gtest/gtest.h>

#include "app/IconLookup.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    QApplication application(argc, argv);
    vindaru::app::IconLookup::chooseIconTheme();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
