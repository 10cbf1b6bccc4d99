// Runs the window tests inside one QApplication with the station's style and font. The windows
// see an empty serial device map, so none of them opens a port of this machine, and the message
// boxes that follow are answered OK and kept for the tests to look at.
#include "AppTestSupport.h"
#include "MessageBoxes.h"
#include "PosixWin32.h"
#include "QtWindowThread.h"
#include "StationLook.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace korvan::testing {

std::vector<ShownMessage>& ShownMessages() {
    static std::vector<ShownMessage> shown;
    return shown;
}

} // namespace korvan::testing

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    korvan::InstallQtWindowThread();
    korvan::ApplyStationLook(app);

    QTemporaryDir machine;
    QDir(machine.path()).mkpath(QStringLiteral("sys/class/tty"));
    QDir(machine.path()).mkpath(QStringLiteral("dev"));
    korvan::posix::SetDeviceMapRoot(machine.path().toStdString());
    korvan::SetMessageBoxAnswerer([](korvan::MessageKind kind, const std::string& text) {
        korvan::testing::ShownMessages().push_back({kind, text});
        return true;
    });
    return RUN_ALL_TESTS();
}
