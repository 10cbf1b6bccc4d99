// What the port's tests share: the application object, readable names of the sync modes, and the
// message of the EComPort an action raises.
#pragma once

#include "BCPort.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

namespace korvan {
// Names the sync modes in test names and messages (found by argument-dependent lookup).
inline void PrintTo(TSyncMethod method, std::ostream* os) {
    *os << (method == smThreadSync   ? "smThreadSync"
            : method == smWindowSync ? "smWindowSync"
                                     : "smNone");
}
} // namespace korvan

namespace korvan::testing {

// One application object for the whole test program: hand-offs need a window thread.
inline QApplication& App() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "serial_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

inline std::string SyncMethodName(const ::testing::TestParamInfo<TSyncMethod>& info) {
    switch (info.param) {
    case smThreadSync:
        return "ThreadSync";
    case smWindowSync:
        return "WindowSync";
    case smNone:
        return "None";
    }
    return "Unknown";
}

inline std::string Message(const std::function<void()>& action) {
    try {
        action();
    } catch (const EComPort& e) {
        return e.what();
    }
    return "(no EComPort)";
}

} // namespace korvan::testing
