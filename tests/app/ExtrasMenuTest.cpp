// The extras menu on the real window: where the right click opens it, and that every entry has
// its key.
#include "ExtrasMenu.h"
#include "AppTestSupport.h"
#include "monitor_code_3.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvan;

namespace {

class ExtrasMenuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        win.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    }
    QMenu* Menu() const { return win.Extras()->Menu(); }
    // A right click as the window system reports it, delivered to `target`.
    bool RightClickOpensMenu(QWidget* target) {
        Menu()->hide();
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                target->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(target, &event);
        return Menu()->isVisible();
    }

    TWIN win;
};

TEST_F(ExtrasMenuTest, EveryEntryHasItsKeyAndTheWindowTakesIt) {
    struct Entry {
        const char* text;
        QKeySequence key;
    };
    const Entry expected[] = {
        {"Обмен — журнал", QKeySequence(Qt::Key_F2)},
        {"Журнал событий", QKeySequence(Qt::Key_F3)},
        {"Вести журнал в файле…", QKeySequence(Qt::CTRL | Qt::Key_J)},
        {"Поиск блоков на линии…", QKeySequence(Qt::Key_F4)},
        {"Диаграмма состояний", QKeySequence(Qt::Key_F5)},
        {"Сохранить настройки…", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"Сравнить с файлом…", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"Отчёт наладки…", QKeySequence(Qt::CTRL | Qt::Key_P)},
        {"О программе", QKeySequence()},
    };
    std::vector<QAction*> entries;
    for (QAction* action : Menu()->actions())
        if (!action->isSeparator()) entries.push_back(action);
    ASSERT_EQ(entries.size(), std::size(expected));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i]->text(), QString::fromUtf8(expected[i].text));
        EXPECT_EQ(entries[i]->shortcut(), expected[i].key) << expected[i].text;
        EXPECT_EQ(entries[i]->shortcutContext(), Qt::WindowShortcut);
        EXPECT_TRUE(win.actions().contains(entries[i])) << "the key works only in the menu";
    }
}

TEST_F(ExtrasMenuTest, OpensOnPanelBackgroundsButNotOverAnEditField) {
    EXPECT_TRUE(RightClickOpensMenu(win.Widgets.ctrl.CTRL));
    EXPECT_TRUE(RightClickOpensMenu(win.Widgets.unit[3].DEV));
    // A group box lets the click pass to its panel.
    EXPECT_TRUE(RightClickOpensMenu(win.findChild<QWidget*>("INPUTS_0")));
    EXPECT_TRUE(RightClickOpensMenu(win.Client()));
    EXPECT_FALSE(RightClickOpensMenu(win.Widgets.unit[0].delay[0]));
    Menu()->hide();
}

TEST_F(ExtrasMenuTest, AboutNamesVersionLicenceAndPort) {
    win.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win));
    for (QAction* action : Menu()->actions())
        if (action->objectName() == "ABOUT") action->trigger();
    auto* box = win.findChild<QWidget*>("ABOUT_BOX");
    ASSERT_NE(box, nullptr);
    const QString text = box->property("informativeText").toString();
    EXPECT_TRUE(text.contains("GNU GPL версии 3 или более поздней")) << text.toStdString();
    EXPECT_TRUE(text.contains("Порт:")) << text.toStdString();
    box->close();
}

// Before the units have been read there is nothing to save, compare or report: each key says so
// and opens no file dialog, and no file is written.
TEST_F(ExtrasMenuTest, RecordsWaitForTheFirstGoodRead) {
    win.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win));
    for (const char* name : {"SAVE_SETTINGS", "COMPARE_FILE", "REPORT"}) {
        SCOPED_TRACE(name);
        korvan::testing::ShownMessages().clear();
        for (QAction* action : Menu()->actions())
            if (action->objectName() == QLatin1String(name)) action->trigger();
        ASSERT_EQ(korvan::testing::ShownMessages().size(), 1u);
        EXPECT_EQ(korvan::testing::ShownMessages()[0].kind, MessageKind::Error);
        EXPECT_EQ(korvan::testing::ShownMessages()[0].text,
                  "Блоки ещё не прочитаны: нет данных для этого действия.");
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(win.SaveSettingsTo("/nonexistent/x.korvan.json"), "Прибор не подключен!");
}

} // namespace
