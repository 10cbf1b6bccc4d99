// The station's window from its creation to the end of the event loop, which the operator ends
// by closing the window or the system by a stop signal. Needs the application object.
#pragma once

namespace korvan {

// Qt's own texts (standard buttons, the file dialog) in Russian, from the system's Qt
// translations (Debian's qt6-translations-l10n), whatever the machine's locale: the station
// speaks Russian only. False when that translation is not installed; Qt's texts stay English.
bool LoadQtRussian();

// The package's icon on every window of the application (task bar, window list).
void SetStationIcon();

// Returns the process's exit code.
int RunStation();

} // namespace korvan
