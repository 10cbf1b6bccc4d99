#include "StationMain.h"

#include "StopSignals.h"
#include "monitor_code_3.h"

#include <QApplication>

namespace korvan {

int RunStation() {
    // Installed before the window, so that a signal during start-up ends the station too.
    StopSignals stop;
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
