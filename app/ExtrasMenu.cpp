#include "ExtrasMenu.h"

#include "monitor_code_3.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>

namespace korvan {

ExtrasMenu::ExtrasMenu(QWidget* window, const std::vector<QWidget*>& backgrounds)
    : QObject(window), window_(window), menu_(new QMenu(window)) {
    setObjectName(QStringLiteral("EXTRAS"));
    menu_->setObjectName(QStringLiteral("EXTRAS_MENU"));
    // A control's own menu (the text menu of an edit field) keeps the right click; whatever
    // lets it pass reaches the panel under it.
    for (QWidget* background : backgrounds)
        background->installEventFilter(this);
}

QAction* ExtrasMenu::Add(const char* name, const QString& text, const QKeySequence& key,
                         std::function<void()> run) {
    auto* action = new QAction(text, window_);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setShortcutVisibleInContextMenu(true);
    connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
    window_->addAction(action); // the key works without the menu being open
    menu_->addAction(action);
    return action;
}

void ExtrasMenu::AddSeparator() {
    menu_->addSeparator();
}

bool ExtrasMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu) {
        menu_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvan

// ---- the entries ---------------------------------------------------------------------------

using namespace korvan;

void TWIN::ConnectExtrasMenu() {
    std::vector<QWidget*> backgrounds{viewport(), client_, BACKGROUND};
    for (int i = 0; i < layout::kPanelCount; ++i)
        backgrounds.push_back(Widgets.Panel(i));
    extras_ = new ExtrasMenu(this, backgrounds);

    extras_->Add("TRAFFIC_VIEW", QStringLiteral("Обмен — журнал"), QKeySequence(Qt::Key_F2),
                 [this] { OpenTrafficView(); });
    extras_->Add("JOURNAL_VIEW", QStringLiteral("Журнал событий"), QKeySequence(Qt::Key_F3),
                 [this] { OpenJournalView(); });
    // Ticked while the journal goes to a file; the same entry stops it.
    journalFileAction_ =
        extras_->Add("JOURNAL_FILE", QStringLiteral("Вести журнал в файле…"),
                     QKeySequence(Qt::CTRL | Qt::Key_J), [this] { ToggleJournalFile(); });
    journalFileAction_->setCheckable(true);
    extras_->Add("BUS_SCAN", QStringLiteral("Поиск блоков на линии…"), QKeySequence(Qt::Key_F4),
                 [this] { OpenBusScan(); });
    extras_->Add("STATE_DIAGRAM", QStringLiteral("Диаграмма состояний"), QKeySequence(Qt::Key_F5),
                 [this] { OpenStateDiagram(); });
    extras_->AddSeparator();
    extras_->Add("SAVE_SETTINGS", QStringLiteral("Сохранить настройки…"),
                 QKeySequence(Qt::CTRL | Qt::Key_S), [this] { SaveSettings(); });
    extras_->Add("COMPARE_FILE", QStringLiteral("Сравнить с файлом…"),
                 QKeySequence(Qt::CTRL | Qt::Key_O), [this] { CompareWithFile(); });
    extras_->Add("REPORT", QStringLiteral("Отчёт наладки…"), QKeySequence(Qt::CTRL | Qt::Key_P),
                 [this] { MakeReport(); });
    extras_->AddSeparator();
    extras_->Add("ABOUT", QStringLiteral("О программе"), QKeySequence(), [this] { ShowAbout(); });
}

void TWIN::ShowAbout() {
    const QString link = Link.COMPORT.IsOpen()
                             ? QStringLiteral("%1, %2 бит/с")
                                   .arg(QString::fromStdString(Link.COMPORT.Port()),
                                        Widgets.ctrl.PCSPD->currentText())
                             : QStringLiteral("не открыт");
    // Not modal: the poll cycle and the window go on while the operator reads it.
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("О программе"),
                                QStringLiteral("KORVAN PRO %1").arg(QStringLiteral(KORVAN_VERSION)),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("ABOUT_BOX"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(QStringLiteral("Станция наладки и контроля сети ЗОКТ по Modbus RTU.\n\n"
                                           "Сборка: %1\n"
                                           "Лицензия: GNU GPL версии 3 или более поздней.\n"
                                           "Порт: %2")
                                .arg(QStringLiteral(KORVAN_BUILD), link));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setWindowModality(Qt::NonModal);
    box->show();
}
