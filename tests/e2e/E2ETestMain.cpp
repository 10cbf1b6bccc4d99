// Runs the end-to-end tests in one QApplication with the station's look, on whatever display
// the environment gives (an X server under ctest). The message boxes are answered OK and kept
// for the tests to look at.
#include "E2ETestSupport.h"
#include "MessageBoxes.h"
#include "QtWindowThread.h"
#include "StationLook.h"

#include <QApplication>

#include <cstdio>

#include <gtest/gtest.h>

namespace korvan::e2e {

std::vector<ShownMessage>& ShownMessages() {
    static std::vector<ShownMessage> shown;
    return shown;
}

} // namespace korvan::e2e

int main(int argc, char** argv) {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    korvan::InstallQtWindowThread();
    korvan::ApplyStationLook(app);
    korvan::SetMessageBoxAnswerer([](korvan::MessageKind kind, const std::string& text) {
        korvan::e2e::ShownMessages().push_back({kind, text});
        return true;
    });
    const int result = RUN_ALL_TESTS();
    // ctest names each test by a filter; one that matches nothing must not pass unnoticed.
    if (::testing::UnitTest::GetInstance()->test_to_run_count() == 0 &&
        !::testing::GTEST_FLAG(list_tests)) {
        std::fputs("no test matched the filter\n", stderr);
        return 1;
    }
    return result;
}
