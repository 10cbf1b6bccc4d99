// The journal fed by the real poll engine over a scripted unit: step by step, which events come
// out, in which words, from which source. Every kind of event the journal derives from the
// images is here, with the rules for the first read, the link loss and the replies the engine
// does not apply.
#include "Catalogue.h"
#include "Commands.h"
#include "EventJournal.h"
#include "ExchangeText.h"
#include "JournalFile.h"
#include "JournalModel.h"
#include "RussianCsv.h"
#include "ScriptedHost.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace korvan;
using namespace korvan::test;
using korvan::testing::ReadRussianCsv;

namespace {

constexpr int kModule1 = 8;  // unit block of ЗОКТ-МР №1
constexpr int kModule2 = 16; // unit block of ЗОКТ-МР №2

std::string Line(const JournalEvent& e) {
    return (UnitText(e.unit) + QStringLiteral(" | ") + e.text + QStringLiteral(" | ") +
            SourceText(e.source) + (e.alarm ? QStringLiteral(" !") : QString()))
        .toStdString();
}

struct JournalRig : Rig {
    EventJournal journal;
    std::uint64_t seen = 0;

    JournalRig() {
        journal.Watch(engine);
        engine.SetExchangeObserver(&journal);
        unit.registers[byte::UnitCount] = 3;
        unit.registers[byte::FirmwareMajor] = 3; // reads 96 registers, then 116
    }
    void Set(int reg, std::uint16_t value) { SetRegisterValue(unit.registers, reg, value); }
    void Operator(int reg, std::uint16_t value) { Want(reg, value); }
    // The unit's reply, bent on the way.
    void Bent(const std::function<void(Bytes&)>& bend) {
        Tick();
        Bytes reply = unit.Answer(LastSent());
        bend(reply);
        Deliver(reply);
        Close();
    }
    void Unanswered() {
        Tick();
        Close();
    }
    std::vector<std::string> New() {
        std::vector<std::string> lines;
        for (; seen < journal.Log().End(); ++seen)
            lines.push_back(Line(journal.Log().At(seen)));
        return lines;
    }
};

TEST(Journal, EventsFromRegisterImagesStepByStep) {
    JournalRig rig;
    rig.Set(kModule2 + reg::UnitInputs, 0x0004);
    rig.Set(reg::StartSources(1), 0x0001);
    const std::string drive = "Тип привода: 001 пожарные насосы";

    const struct Step {
        const char* what;
        std::function<void()> run;
        std::vector<std::string> events;
    } steps[] = {
        {"first read: one line per unit in the network",
         [&] { rig.Cycle(); },
         {"Сеть | связь установлена | станция",
          "ЗОКТ-01 | состояние при подключении: Норма; " + drive + " | блок",
          "ЗОКТ-МР №1 | состояние при подключении: Норма; " + drive + " | блок",
          "ЗОКТ-МР №2 | состояние при подключении: Норма; " + drive +
              "; Вход 3 — сработал | блок"}},
        {"the wider read brings registers never read: news, no change", [&] { rig.Cycle(); }, {}},
        {"nothing changed", [&] { rig.Cycle(); }, {}},
        {"an input trips",
         [&] {
             rig.Set(kModule1 + reg::UnitInputs, 0x0004);
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Вход 3 — сработал | блок"}},
        {"the input and the unit go to fault",
         [&] {
             rig.Set(kModule1 + reg::UnitFaults, 0x0040);
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Вход 3 — неисправность | блок !", "ЗОКТ-МР №1 | Неисправность | блок !"}},
        {"the fault clears",
         [&] {
             rig.Set(kModule1 + reg::UnitFaults, 0);
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Вход 3 — сработал | блок", "ЗОКТ-МР №1 | Норма | блок"}},
        {"the unit switches an output and a relay, and someone sets a delay on it",
         [&] {
             rig.Set(reg::UnitOutputs, 0x0101);
             rig.Set(reg::DelayOn1, 7);
             rig.Cycle();
         },
         {"ЗОКТ-01 | Выход 1 — включен | блок",
          "ЗОКТ-01 | Обобщенные выходные сигналы (реле): Пуск — включен | блок",
          "ЗОКТ-01 | Задержка вкл. 1: 0 → 7 | блок"}},
        {"replies the engine does not apply carry a change: nothing",
         [&] {
             rig.Set(reg::UnitInputs, 0x0001);
             rig.Bent([](Bytes& reply) { reply.back() ^= 0x40; });
             rig.Bent([](Bytes& reply) {
                 reply[0] = 7;
                 reply = WithCrc({reply.begin(), reply.end() - 2});
             });
         },
         {}},
        {"the next good read shows it",
         [&] { rig.Cycle(); },
         {"ЗОКТ-01 | Вход 1 — сработал | блок"}},
        {"nor does a reply of the wrong length",
         [&] {
             rig.Set(reg::UnitInputs, 0x0003);
             rig.Bent([](Bytes& reply) { reply = ReadReply(RegisterImage{}, 10); });
         },
         {}},
        {"until a good one", [&] { rig.Cycle(); }, {"ЗОКТ-01 | Вход 2 — сработал | блок"}},
        {"the operator edits a delay: held read, then the write and its echo",
         [&] {
             rig.Operator(reg::DelayOn1, 12);
             rig.Cycle();
             rig.Cycle();
             rig.Cycle();
         },
         {"ЗОКТ-01 | Задержка вкл. 1: 7 → 12 | оператор",
          "ЗОКТ-01 | Задержка вкл. 1: 12 — подтверждено | блок"}},
        {"a command button",
         [&] {
             struct : MessageHost {
                 bool ShowMessage(MessageKind, const std::string&) override { return true; }
             } ok;
             ST_BUTClick(rig.engine, ok);
             rig.Cycle();
             rig.Cycle();
         },
         {"Сеть | Ком. сигнал ОСТАНОВ | оператор",
          "Сеть | Ком. сигнал ОСТАНОВ — подтверждено | блок"}},
        {"an output forced by a click",
         [&] {
             rig.Operator(kModule1 + reg::UnitOutputs, 0x0002);
             rig.Cycle();
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Выход 2: выключен → включен | оператор",
          "ЗОКТ-МР №1 | Выход 2: включен — подтверждено | блок"}},
        {"a service command the unit does not echo is not sent again",
         [&] {
             rig.engine.SendServiceCommand(kCommandReset);
             rig.Cycle();
             rig.Unanswered();
             rig.Cycle();
         },
         {"Сеть | Сброс сигнала ПОЖАР | оператор",
          "Сеть | Сброс сигнала ПОЖАР — не подтверждено | станция"}},
        {"an edit, then the line falls silent: the link is lost before the echo",
         [&] {
             rig.Operator(kModule2 + reg::DelayOn1, 30);
             rig.Cycle();
             rig.unit.silent = true;
             for (int i = 0; i < 3; ++i)
                 rig.Cycle();
         },
         {"ЗОКТ-МР №2 | Задержка вкл. 1: 0 → 30 | оператор", "Сеть | связь потеряна | станция !",
          "ЗОКТ-МР №2 | Задержка вкл. 1: 30 — не подтверждено | станция"}},
        {"while the link is lost the unit changes; a silent line records nothing more",
         [&] {
             rig.Set(kModule1 + reg::UnitInputs, 0);
             rig.Set(kModule2 + reg::UnitFaults, 0x0001);
             rig.Set(reg::StartSources(1), 0x0003);
             rig.Cycle();
             rig.Cycle();
         },
         {}},
        {"the line answers; the first read after the loss: baseline, then only what differs",
         [&] {
             rig.unit.silent = false;
             rig.Cycle();
         },
         {"Сеть | связь восстановлена | станция",
          "ЗОКТ-01 | состояние при подключении: Норма; " + drive +
              "; Выход 1 — включен; Вход 1 — сработал; Вход 2 — сработал; Обобщенные выходные "
              "сигналы (реле): Пуск — "
              "включен | блок",
          "ЗОКТ-МР №1 | состояние при подключении: Норма; " + drive + "; Выход 2 — включен | блок",
          "ЗОКТ-МР №2 | состояние при подключении: Неисправность; " + drive +
              "; Выход 1 — неисправность; Вход 3 — сработал | блок !",
          "ЗОКТ-МР №1 | Вход 3 — в норме | блок", "ЗОКТ-МР №2 | Выход 1 — неисправность | блок !",
          "ЗОКТ-МР №2 | Неисправность | блок !"}},
        {"the write goes out again after that read and is echoed after all",
         [&] { rig.Cycle(); },
         {"ЗОКТ-МР №2 | Задержка вкл. 1: 30 — подтверждено | блок"}},
        {"the wider read again: what changed there during the loss",
         [&] { rig.Cycle(); },
         {"ЗОКТ-МР №1 | Источник пускового сигнала: ЗОКТ-МР №1: не отмечен → отмечен | блок"}},
        {"a module leaves the network and comes back",
         [&] {
             rig.unit.registers[byte::UnitCount] = 2;
             rig.Cycle();
             rig.unit.registers[byte::UnitCount] = 3;
             rig.Cycle();
         },
         {"ЗОКТ-МР №2 | исчез из состава сети | блок !",
          "ЗОКТ-МР №2 | появился в составе сети | блок"}},
        {"a unit taken out of use greys its indicators: no state change",
         [&] {
             rig.Set(kModule1, 0);
             rig.Set(kModule1 + reg::UnitInputs, 0x0002);
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Тип привода: 001 пожарные насосы → 000 не используется (отключен) | блок"}},
        {"a choice is journaled when the operator makes it, before any write",
         [&] { rig.Operator(reg::DelayOn1, 40); }, // the engine tells the journal
         {"ЗОКТ-01 | Задержка вкл. 1: 12 → 40 | оператор"}},
        {"its write adds only the confirmation",
         [&] {
             for (int i = 0; i < 3; ++i)
                 rig.Cycle();
         },
         {"ЗОКТ-01 | Задержка вкл. 1: 40 — подтверждено | блок"}},
        {"the port fails: the link is lost, once",
         [&] {
             rig.journal.PortLost();
             rig.journal.PortLost();
         },
         {"Сеть | связь потеряна | станция !"}},
    };
    for (const Step& step : steps) {
        step.run();
        const std::vector<std::string> events = rig.New();
        if (events == step.events) continue;
        std::string seen;
        for (const std::string& line : events)
            seen += "\n  " + line;
        ADD_FAILURE() << step.what << ": got" << (seen.empty() ? " nothing" : seen);
    }
}

// The view's rows over a log that drops its oldest events: the rows follow the log, the filter
// holds for new rows too, and the CSV holds exactly the rows shown.
TEST(JournalModel, RowsFollowTheBoundedLogThroughTheFilter) {
    EventLog log(4);
    JournalModel model(log);
    const auto add = [&](int unit, EventKind kind, const char* text) {
        log.Add({.text = QString::fromUtf8(text),
                 .unit = static_cast<std::int8_t>(unit),
                 .kind = kind});
    };
    add(1, EventKind::State, "Вход 1 — сработал");
    add(2, EventKind::Setting, "Таймаут, мс: 100 → 200");
    add(1, EventKind::State, "Вход 1 — в норме");
    EXPECT_EQ(model.Take(), 0);
    ASSERT_EQ(model.rowCount(), 3);

    add(2, EventKind::State, "Вход 2 — сработал");
    add(1, EventKind::Link, "исчез из состава сети");
    add(2, EventKind::Setting, "Таймаут, мс: 200 → 300");
    EXPECT_EQ(model.Take(), 2) << "the two oldest left the log";
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(log.Dropped(), 2u);
    EXPECT_EQ(model.RowEvent(0).text, "Вход 1 — в норме");

    JournalFilter filter;
    filter.unit = 2;
    filter.kinds[static_cast<int>(EventKind::State)] = false;
    model.SetFilter(filter);
    add(2, EventKind::Setting, "Таймаут, мс: 300 → 400");
    add(2, EventKind::State, "Вход 2 — в норме");
    model.Take();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.RowEvent(0).text, "Таймаут, мс: 200 → 300");
    EXPECT_EQ(model.RowEvent(1).text, "Таймаут, мс: 300 → 400");

    std::ostringstream csv;
    ASSERT_TRUE(model.WriteCsv(csv));
    const std::vector<std::vector<std::string>> rows = ReadRussianCsv(csv.str());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Время", "Блок", "Событие", "Источник"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{IsoTimeText({}), "ЗОКТ-МР №2",
                                                 "Таймаут, мс: 200 → 300", "станция"}));
}

// What the operator finds: the network's rows stay under a unit filter, the search looks in every
// column, times have milliseconds; and a text with quotes, ";" and line breaks reads back whole.
TEST(JournalModel, FilterKeepsTheNetworkAndSearchesEveryColumn) {
    EventLog log;
    JournalModel model(log);
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765300000250));
    const QString odd = QStringLiteral("Запись из файла \"шкаф; №2\".korvan.json:\nстрока");
    log.Add({.time = at, .text = "связь потеряна", .unit = kNetworkUnit});
    log.Add({.time = at, .text = "Вход 1 — сработал", .unit = 1, .source = EventSource::Unit});
    log.Add({.time = at, .text = "Вход 2 — сработал", .unit = 2, .source = EventSource::Unit});
    log.Add({.time = at, .text = odd, .unit = kNetworkUnit, .source = EventSource::Operator});
    const auto shown = [&](int unit, const char* search) {
        model.SetFilter({.unit = unit, .search = QString::fromUtf8(search)});
        std::vector<std::string> texts;
        for (int row = 0; row < model.rowCount(); ++row)
            texts.push_back(model.RowEvent(row).text.toStdString());
        return texts;
    };
    EXPECT_EQ(shown(1, ""),
              (std::vector<std::string>{"связь потеряна", "Вход 1 — сработал", odd.toStdString()}));
    EXPECT_EQ(shown(kNetworkUnit, "").size(), 2u);
    EXPECT_EQ(shown(kAnyUnit, "блок").size(), 2u) << "the source column";
    EXPECT_EQ(shown(kAnyUnit, ".250").size(), 4u) << "the time column, with milliseconds";
    EXPECT_TRUE(model.data(model.index(0, JournalModel::Time), Qt::DisplayRole)
                    .toString()
                    .endsWith(QStringLiteral(".250")));

    model.SetFilter({});
    std::ostringstream csv;
    ASSERT_TRUE(model.WriteCsv(csv));
    const std::vector<std::vector<std::string>> rows = ReadRussianCsv(csv.str());
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[4],
              (std::vector<std::string>{IsoTimeText(at), "Сеть", odd.toStdString(), "оператор"}));
}

// The journal file holds what the journal had when it started and what came after; a medium that
// fails is said once, and the journal goes on in memory.
TEST(JournalFile, HoldsTheRunAndSaysAFailureOnce) {
    EventLog log;
    log.Add({.text = "станция запущена"});
    JournalFile file(log);
    QStringList failures;
    QObject::connect(&file, &JournalFile::Failed, [&](const QString& text) { failures << text; });
    QTemporaryDir dir;
    const QString path = dir.filePath("журнал; №1.csv");
    ASSERT_EQ(file.Start(path), "");
    log.Add({.text = "связь установлена", .unit = kNetworkUnit});
    file.Take();
    log.Add({.text = "станция остановлена"});
    file.Stop();
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const std::vector<std::vector<std::string>> rows =
        ReadRussianCsv(written.readAll().toStdString());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1][2], "станция запущена");
    EXPECT_EQ(rows[2][2], "связь установлена");
    EXPECT_EQ(rows[3][2], "станция остановлена");

    ASSERT_EQ(file.Start(QStringLiteral("/dev/full")), "");
    EXPECT_TRUE(file.Active());
    log.Add({.text = "связь потеряна", .unit = kNetworkUnit});
    file.Stop();
    file.Take();
    file.Stop();
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].contains(QStringLiteral("не хватило места")))
        << failures[0].toStdString();
    EXPECT_FALSE(file.Active());
    EXPECT_EQ(log.End(), 4u);
    EXPECT_NE(file.Start(dir.filePath("нет/такой.csv")), "");
}

} // namespace
