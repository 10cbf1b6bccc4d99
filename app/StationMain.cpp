#include "StationMain.h"

#include "StopSignals.h"
#include "monitor_code_3.h"

#include <QApplication>

namespace korvan {

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
