// The station's window from its creation to the end of the event loop, which the operator ends
// by closing the window or the system by a stop signal. Needs the application object.
#pragma once

namespace korvan {

// Returns the process's exit code.
int RunStation();

} // namespace korvan
