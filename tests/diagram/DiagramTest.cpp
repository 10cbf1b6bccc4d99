// The state diagram: its bands as the real journal tells them over a scripted unit, step by step,
// and the pixels of a PNG the window saves of a scripted run.
#include "Catalogue.h"
#include "DiagramWindow.h"
#include "EventJournal.h"
#include "ScriptedHost.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace korvan;
using namespace korvan::test;

namespace {

constexpr int kModule1 = 8; // unit block of ЗОКТ-МР №1

const char* StateName(BandState state) {
    constexpr const char* kNames[] = {"Unknown", "Grey", "Rest", "Active", "Fault"};
    return kNames[static_cast<int>(state)];
}

struct BandsRig : Rig {
    EventJournal journal;
    StateBands bands;
    std::vector<std::size_t> seen; // edges of each band already looked at

    BandsRig() : seen(bands.Bands().size(), 0) {
        journal.Watch(engine);
        engine.SetExchangeObserver(&journal);
        unit.registers[byte::UnitCount] = 3; // the master and two modules
    }
    void Set(int reg, std::uint16_t value) { SetRegisterValue(unit.registers, reg, value); }

    // The edges the bands gained: each as "unit | band | state | the journal's event at it";
    // a band coming out of unknown or grey to rest, and a band going grey, only counted.
    std::vector<std::string> New() {
        bands.Take(journal.Log());
        std::vector<std::string> lines;
        std::map<std::string, int> counted;
        for (std::size_t b = 0; b < bands.Bands().size(); ++b) {
            const Band& band = bands.Bands()[b];
            for (; seen[b] < band.edges.size(); ++seen[b]) {
                const BandEdge& edge = band.edges[seen[b]];
                const BandState was =
                    seen[b] == 0 ? BandState::Unknown : band.edges[seen[b] - 1].state;
                const bool fromNothing = was == BandState::Unknown || was == BandState::Grey;
                const bool link = band.kind == BandKind::Link;
                if (!link && ((fromNothing && edge.state == BandState::Rest) ||
                              edge.state == BandState::Grey)) {
                    ++counted[std::string("→ ") + StateName(edge.state)];
                    continue;
                }
                lines.push_back((CatalogueUnitName(band.unit) + " | " + band.caption + " | " +
                                 StateName(edge.state) + " | " +
                                 journal.Log().At(edge.sequence).text)
                                    .toStdString());
            }
        }
        for (const auto& [what, count] : counted)
            lines.push_back(what + ": " + std::to_string(count));
        return lines;
    }
};

// Fault it catches: a band that misses a state the journal told, takes it from the wrong event
// (a click would select another row), stays coloured through a lost link or an absent unit, or
// merges changes that came in consecutive polls.
TEST(StateBands, BandsFollowWhatTheJournalTellsStepByStep) {
    BandsRig rig;
    rig.Set(kModule1 + reg::UnitInputs, 0x0004); // input 3 active at connection
    const struct Step {
        const char* what;
        std::function<void()> run;
        std::vector<std::string> edges;
    } steps[] = {
        {"first read: the link and every band of the units present",
         [&] { rig.Connect(); },
         {"Сеть | Обмен | Rest | связь установлена",
          "ЗОКТ-МР №1 | Вход 3 | Active | состояние при подключении: Норма; Тип привода: 001 пожарные "
          "насосы; Вход 3 — сработал",
          "→ Rest: 32"}},
        {"rapid changes: input 1 trips, clears and trips in three polls",
         [&] {
             rig.Set(kModule1 + reg::UnitInputs, 0x0005);
             rig.Cycle();
             rig.Set(kModule1 + reg::UnitInputs, 0x0004);
             rig.Cycle();
             rig.Set(kModule1 + reg::UnitInputs, 0x0005);
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Вход 1 | Active | Вход 1 — сработал",
          "ЗОКТ-МР №1 | Вход 1 | Rest | Вход 1 — в норме",
          "ЗОКТ-МР №1 | Вход 1 | Active | Вход 1 — сработал"}},
        {"a fault on input 1: the input and the unit's state",
         [&] {
             rig.Set(kModule1 + reg::UnitFaults, 0x0010);
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Вход 1 | Fault | Вход 1 — неисправность",
          "ЗОКТ-МР №1 | Норма/Неисправность | Fault | Неисправность"}},
        {"the fault cleared: the input is active again",
         [&] {
             rig.Set(kModule1 + reg::UnitFaults, 0);
             rig.Cycle();
         },
         {"ЗОКТ-МР №1 | Вход 1 | Active | Вход 1 — сработал",
          "ЗОКТ-МР №1 | Норма/Неисправность | Rest | Норма"}},
        {"an absent unit: module 2 leaves the network, its bands go grey",
         [&] {
             rig.unit.registers[byte::UnitCount] = 2;
             rig.Cycle();
         },
         {"→ Grey: 8"}},
        {"link loss: every band told so far goes grey, the link red",
         [&] {
             rig.unit.silent = true;
             for (int i = 0; i < 3; ++i)
                 rig.Cycle();
         },
         {"Сеть | Обмен | Fault | связь потеряна", "→ Grey: 25"}},
        {"link back: the line at connection tells the states again; module 2 stays grey",
         [&] {
             rig.unit.silent = false;
             rig.Cycle();
         },
         {"Сеть | Обмен | Rest | связь восстановлена",
          "ЗОКТ-МР №1 | Вход 1 | Active | состояние при подключении: Норма; Тип привода: 001 пожарные "
          "насосы; Вход 1 — сработал; Вход 3 — сработал",
          "ЗОКТ-МР №1 | Вход 3 | Active | состояние при подключении: Норма; Тип привода: 001 пожарные "
          "насосы; Вход 1 — сработал; Вход 3 — сработал",
          "→ Rest: 23"}},
    };
    for (const Step& step : steps) {
        step.run();
        EXPECT_EQ(rig.New(), step.edges) << step.what;
    }
    const Band& input1 = rig.bands.Bands()[static_cast<std::size_t>(1 + 1 + 16 + 2)];
    ASSERT_EQ(input1.caption, "Вход 1");
    EXPECT_EQ(input1.changes, 5) << "rest, active, rest, active, fault, active";
}

JournalEvent Told(std::int64_t ms, int unit, std::uint16_t told, std::uint32_t states,
                  EventKind kind = EventKind::State, bool alarm = false) {
    JournalEvent event;
    event.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
    event.unit = static_cast<std::int8_t>(unit);
    event.kind = kind;
    event.alarm = alarm;
    event.told = told;
    event.states = states;
    return event;
}

// Fault it catches: steps drawn at the wrong time or in the wrong colour, a change shorter than
// a pixel lost at the whole run's scale, a lost link not greyed, a file not written as PNG.
TEST(DiagramRender, SavedPngShowsStepsEdgesAndGrey) {
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const std::int64_t t0 = now - 20000;
    constexpr std::uint16_t kInput3 = 1u << 4; // slots: OUT1, OUT2, IN1 .. IN5, STATE
    constexpr auto kActive = static_cast<std::uint32_t>(IndicatorState::Active);
    constexpr auto kRest = static_cast<std::uint32_t>(IndicatorState::Rest);
    std::uint32_t allRest = 0;
    for (int slot = 0; slot < 8; ++slot)
        allRest |= kRest << (2 * slot);
    EventLog log;
    log.Add(Told(t0, kStationUnit, 0, 0, EventKind::Link)); // станция запущена
    log.Add(Told(t0 + 1000, kNetworkUnit, 0, 0, EventKind::Link));
    log.Add(Told(t0 + 1000, 1, 0xFF, allRest));
    log.Add(Told(t0 + 4000, 1, kInput3, kActive << 8));
    log.Add(Told(t0 + 8000, 1, kInput3, kRest << 8));
    log.Add(Told(t0 + 12000, 1, kInput3, kActive << 8)); // a glitch of 1 ms
    log.Add(Told(t0 + 12001, 1, kInput3, kRest << 8));
    log.Add(Told(t0 + 16000, kNetworkUnit, 0, 0, EventKind::Link, true)); // связь потеряна

    DiagramWindow window(log);
    window.resize(1000, 500);
    window.show();
    window.Refresh();
    QTemporaryDir dir;
    const QString path = dir.filePath("диаграмма.png");
    ASSERT_TRUE(window.SaveTo(path));
    QImage image(path, "PNG");
    ASSERT_FALSE(image.isNull());

    const DiagramCanvas& canvas = *window.Canvas();
    ASSERT_EQ(image.size(), canvas.size());
    const DiagramGeometry g(canvas.rect(), canvas.Frame(), canvas.fontMetrics());
    // Lines: "Сеть", Обмен, Ком. сигнал? (not told: not shown as known), "ЗОКТ-МР №1", its 8.
    const std::vector<DiagramLine> lines = DiagramLines(window.Bands(), canvas.Frame().bands);
    auto lineOf = [&](const QString& caption) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].band >= 0 &&
                window.Bands().Bands()[static_cast<std::size_t>(lines[i].band)].caption == caption)
                return static_cast<int>(i);
        return -1;
    };
    const int input3 = lineOf("Вход 3");
    const int link = lineOf("Обмен");
    ASSERT_GE(input3, 0);
    ASSERT_GE(link, 0);
    const int rowHeight = canvas.Frame().rowHeight;
    // Near the top of a band only a high step is drawn; near its bottom every step is.
    auto pixel = [&](int line, std::int64_t ms, bool high) {
        const int y = g.LineTop(line) + (high ? 5 : rowHeight - 5);
        return image.pixelColor(static_cast<int>(std::lround(g.X(ms))), y).name().toStdString();
    };
    const std::string red = "#ff0000", green = "#008000", grey = "#808080", white = "#ffffff";
    EXPECT_EQ(pixel(input3, t0 + 500, false), white) << "nothing known before the link";
    EXPECT_EQ(pixel(input3, t0 + 2500, true), white);
    EXPECT_EQ(pixel(input3, t0 + 2500, false), green) << "at rest: low and green";
    EXPECT_EQ(pixel(input3, t0 + 6000, true), red) << "active: high and red";
    EXPECT_EQ(pixel(input3, t0 + 10000, true), white);
    EXPECT_EQ(pixel(input3, t0 + 18000, false), grey) << "grey while the link is lost";
    EXPECT_EQ(pixel(link, t0 + 10000, false), green);
    EXPECT_EQ(pixel(link, t0 + 18000, true), red) << "the link red while lost";
    // The glitch of 1 ms is narrower than a pixel: its edge is still drawn.
    const int glitchX = static_cast<int>(std::lround(g.X(t0 + 12000)));
    bool edge = false;
    for (int x = glitchX - 1; x <= glitchX + 1; ++x)
        edge = edge || image.pixelColor(x, g.LineTop(input3) + 5).lightness() < 60;
    EXPECT_TRUE(edge) << "a change shorter than a pixel is lost";

    // The other formats by the name's extension.
    const std::pair<const char*, QByteArray> formats[] = {{"d.svg", "<?xml"}, {"d.pdf", "%PDF"}};
    for (const auto& [name, start] : formats) {
        ASSERT_TRUE(window.SaveTo(dir.filePath(name))) << name;
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().startsWith(start)) << name;
    }
    EXPECT_FALSE(window.SaveTo(dir.filePath("d.txt")));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
