// The settings file: what is saved comes back, and every kind of damaged file is refused with a
// message that names what is wrong.
#include "SettingsFile.h"
#include "FileIo.h"
#include "RecordsRig.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>

using namespace korvan;
using namespace korvan::records;

namespace {

const OwnedBits& Owned() {
    return records::Catalogue().owned;
}

std::string SavedJson() {
    SettingsRecord record = CaptureSettings(rig::ThreeUnits(), Owned(), rig::Facts());
    NameRegisters(record, rig::ThreeUnits());
    return SettingsToJson(record);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("not in the file: " + from);
    return text.replace(at, from.size(), to);
}

TEST(SettingsFile, WhatIsSavedComesBack) {
    const SettingsRecord saved = CaptureSettings(rig::ThreeUnits(), Owned(), rig::Facts());
    ASSERT_EQ(saved.units.size(), 3u);
    const LoadedSettings loaded = SettingsFromJson(SavedJson(), Owned());
    ASSERT_EQ(loaded.error, "");
    const SettingsRecord& back = loaded.record;
    EXPECT_EQ(back.savedAt, saved.savedAt);
    EXPECT_EQ(back.port, saved.port);
    EXPECT_EQ(back.speed, saved.speed);
    EXPECT_EQ(back.slaveAddress, saved.slaveAddress);
    auto values = [](const std::vector<RecordedRegister>& rs) {
        std::vector<std::pair<int, int>> v;
        for (const RecordedRegister& r : rs)
            v.emplace_back(r.reg, r.value);
        return v;
    };
    EXPECT_EQ(values(back.network), values(saved.network));
    ASSERT_EQ(back.units.size(), saved.units.size());
    for (std::size_t i = 0; i < saved.units.size(); ++i) {
        EXPECT_EQ(back.units[i].unit, saved.units[i].unit);
        EXPECT_EQ(back.units[i].firmwareMajor, 3);
        EXPECT_EQ(back.units[i].firmwareMinor, 5);
        EXPECT_EQ(values(back.units[i].registers), values(saved.units[i].registers));
        // Configuration, four delays, start sources and blockings.
        EXPECT_EQ(back.units[i].registers.size(), 7u);
    }
    // A person reading the file finds the settings named as the window names them.
    const std::string json = SavedJson();
    EXPECT_NE(json.find("\"value\": \"002 пожарная задвижка\""), std::string::npos);
    EXPECT_NE(json.find("\"caption\": \"Задержка откл. 2\""), std::string::npos);
}

// Two files of one network, one delay apart: `diff` shows one line, and that line names the unit
// and the setting; the keys keep the order a person reads in; two settings of one register have
// captions of their own.
TEST(SettingsFile, DiffOfTwoFilesNamesTheUnitAndTheSetting) {
    const std::string before = SavedJson();
    RegisterImage changed = rig::ThreeUnits();
    SetRegisterValue(changed, reg::UnitBlock(2) + 4, 99);
    SettingsRecord record = CaptureSettings(changed, Owned(), rig::Facts());
    NameRegisters(record, changed);
    const std::string after = SettingsToJson(record);
    std::istringstream a(before);
    std::istringstream b(after);
    std::vector<std::string> differing;
    for (std::string x, y; std::getline(a, x) && std::getline(b, y);)
        if (x != y) differing.push_back(y);
    ASSERT_EQ(differing.size(), 1u);
    EXPECT_NE(differing[0].find("ЗОКТ-МР №2"), std::string::npos) << differing[0];
    EXPECT_NE(differing[0].find("\"caption\": \"Задержка вкл. 1\", \"value\": \"99\""),
              std::string::npos)
        << differing[0];

    std::vector<std::size_t> at;
    for (const char* key : {"\"format\"", "\"version\"", "\"saved\"", "\"station\"", "\"port\"",
                            "\"speed\"", "\"slave\"", "\"network\"", "\"units\""})
        at.push_back(before.find(key));
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
    EXPECT_EQ(std::count(at.begin(), at.end(), std::string::npos), 0);

    for (const UnitRecord& unit : record.units)
        for (const RecordedRegister& r : unit.registers) {
            std::set<std::string> captions;
            for (const NamedValue& named : r.named)
                EXPECT_TRUE(captions.insert(named.caption).second)
                    << "register " << r.reg << ": " << named.caption << " twice";
        }
}

TEST(SettingsFile, DamagedFilesAreRefusedWithWhatIsWrong) {
    const std::string good = SavedJson();
    struct Case {
        const char* what;
        std::string text;
        const char* message; // part of the refusal
    };
    const Case cases[] = {
        {"empty", "  \n", "Файл пуст."},
        {"truncated", good.substr(0, good.size() / 2), "Файл обрезан"},
        {"scrambled", Replaced(good, "\"units\": [", "\"units\": [}"), "нарушена запись JSON"},
        {"binary", std::string("\x89PNG\r\n\x1a\n", 8), "нарушена запись JSON"},
        {"foreign JSON", R"({"name": "Вася", "units": []})", "Это не файл настроек KORVAN PRO."},
        {"a list", "[1, 2, 3]", "Это не файл настроек KORVAN PRO."},
        {"newer schema", Replaced(good, "\"version\": 1", "\"version\": 2"),
         "более новой версией программы (формат 2)"},
        {"version text", Replaced(good, "\"version\": 1", "\"version\": \"1\""),
         "номер версии формата"},
        {"no units", Replaced(good, "\"units\"", "\"blocks\""), "нет поля «units»"},
        {"unit 12", Replaced(good, "\"unit\": 2", "\"unit\": 12"), "«unit» должно быть целым"},
        {"unit twice", Replaced(good, "\"unit\": 2", "\"unit\": 1"), "ЗОКТ-МР №1 — блок записан"},
        {"status register", Replaced(good, "\"register\": 12", "\"register\": 10"),
         "регистр 10 — этот регистр не хранит настроек"},
        {"command register", Replaced(good, "\"register\": 84", "\"register\": 94"),
         "регистр 94 — этот регистр не хранит настроек"},
        {"register twice", Replaced(good, "\"register\": 13", "\"register\": 12"),
         "регистр 12 — регистр записан дважды"},
        {"value too big", Replaced(good, "\"value\": 100", "\"value\": 70000"),
         "«value» должно быть целым от 0 до 65535"},
        {"value in words", Replaced(good, "\"value\": 100", "\"value\": \"100\""),
         "«value» должно быть целым"},
        {"fraction", Replaced(good, "\"slave\": 1", "\"slave\": 1.5"), "«slave» должно быть целым"},
        {"no firmware", Replaced(good, "\"firmware\"", "\"firmwar\""), "нет поля «firmware»"},
        {"matrix of old firmware", Replaced(good, "\"major\": 3", "\"major\": 2"),
         "регистр 96 — этот регистр не хранит настроек"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LoadedSettings loaded = SettingsFromJson(c.text, Owned());
        EXPECT_NE(loaded.error.find(c.message), std::string::npos) << loaded.error;
        EXPECT_TRUE(loaded.record.units.empty()) << "a refused file must give nothing";
    }
}

std::string Contents(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A write that runs out of room (here: the file-size limit, which fails a write as a full disk
// does) leaves the old file whole and no temporary file behind.
TEST(SettingsFile, FailedWriteLeavesTheOldFileAndNoTrace) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("cabinet.korvan.json");
    ASSERT_EQ(WriteFileAtomically(path.toStdString(), "old settings\n"), "");

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string error = WriteFileAtomically(path.toStdString(), std::string(100000, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_NE(error.find("на диске не хватило места"), std::string::npos) << error;
    EXPECT_NE(error.find("Прежний файл"), std::string::npos) << error;
    EXPECT_EQ(Contents(path), "old settings\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"cabinet.korvan.json"});

    const std::string missing =
        WriteFileAtomically(dir.filePath("no/such.korvan.json").toStdString(), "x");
    EXPECT_NE(missing.find("такой папки нет"), std::string::npos) << missing;
}

} // namespace
