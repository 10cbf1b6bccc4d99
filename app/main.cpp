// KORVAN PRO: the station's program entry.
#include "QtWindowThread.h"
#include "StationLook.h"
#include "StationMain.h"
#include "StopSignals.h"

#include <QApplication>

int main(int, char** argv) {
    korvan::InstallStopSignals();
    // The layout is in fixed pixels; the station reads no command line, so Qt sees only the
    // program name.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("KORVAN PRO"));
    korvan::LoadQtRussian();
    korvan::SetStationIcon();
    korvan::InstallQtWindowThread();
    korvan::ApplyStationLook(app);
    return korvan::RunStation();
}
