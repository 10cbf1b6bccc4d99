// The Qt window thread for the serial port component: the thread that created the application
// object runs the hand-offs of smThreadSync and the notification windows of smWindowSync, from its
// event loop and from every nested one (a modal message box, for example).
#pragma once

namespace korvan {

// Linking korvan_handoff_qt installs the Qt window thread before main runs; calling this again is
// harmless.
void InstallQtWindowThread();

} // namespace korvan
