#include "StationMain.h"

#include "StopSignals.h"
#include "monitor_code_3.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace korvan {

bool LoadQtRussian() {
    // Lives as long as the application; qtbase holds every text of the widgets and dialogs.
    static QTranslator qtbase;
    if (!qtbase.load(QStringLiteral("qtbase_ru"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&qtbase);
}

void SetStationIcon() {
    // The same drawing the package installs for the desktop menu, kept in the resources so that
    // a build run from its folder shows it too; Qt draws it through its SVG plugin (libqt6svg6).
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/korvan/korvan-pro.svg")));
}

int RunStation() {
    StopSignals stop;
    if (stop.Requested()) return 0; // stopped before the window: nothing to give back
    TWIN WIN;
    stop.SetWindow(&WIN);
    if (stop.Requested()) {
        WIN.close();
        return 0;
    }
    WIN.ShowAtStart();
    return QApplication::exec();
}

} // namespace korvan
