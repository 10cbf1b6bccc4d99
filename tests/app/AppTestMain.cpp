// Runs the window tests inside one QApplication with the station's style and font.
#include "StationLook.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    korvan::ApplyStationLook(app);
    return RUN_ALL_TESTS();
}
