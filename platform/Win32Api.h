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

#include <string>

namespace korvan {

// What the system knew about the last failure beyond its error code (who holds a port, which
// lock file is in the way); empty where it tells nothing more, as on Windows.
inline std::string LastErrorDetail() {
#ifdef _WIN32
    return {};
#else
    return posix::LastErrorDetail();
#endif
}

// What comes before a port name such as COM3 or ttyUSB0 to make the device path.
#ifdef _WIN32
inline constexpr char kDevicePathPrefix[] = "\\\\.\\";
#else
inline constexpr char kDevicePathPrefix[] = "/dev/";
#endif

} // namespace korvan
