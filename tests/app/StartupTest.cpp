// What the station's start-up takes from the system: Qt's Russian texts and the icon's SVG
// plugin. Either missing (a package left out of install-deps or Depends, a renamed catalogue)
// shows as English dialogs or a blank task-bar icon, which no other test would notice.
#include "StationMain.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QIcon>
#include <QPushButton>

#include <gtest/gtest.h>

TEST(Startup, QtDialogsSpeakRussianAndTheWindowHasTheIcon) {
    ASSERT_TRUE(korvan::LoadQtRussian());
    QDialogButtonBox buttons(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Save)->text(), QStringLiteral("Сохранить"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));

    korvan::SetStationIcon();
    EXPECT_FALSE(QApplication::windowIcon().pixmap(32, 32).isNull());
}
