// The Win32 communications, synchronisation, registry and message interface: the real one on
// Windows, our own POSIX layer everywhere else.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "PosixWin32.h"
#endif

namespace korvan {

// What comes before a port name such as COM3 or ttyUSB0 to make the device path.
#ifdef _WIN32
inline constexpr char kDevicePathPrefix[] = "\\\\.\\";
#else
inline constexpr char kDevicePathPrefix[] = "/dev/";
#endif

} // namespace korvan
