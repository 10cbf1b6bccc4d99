#include "SettingsFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <set>
#include <stdexcept>

namespace korvan::records {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonArray RegistersToJson(const std::vector<RecordedRegister>& registers) {
    QJsonArray array;
    for (const RecordedRegister& r : registers) {
        QJsonArray named;
        for (const NamedValue& n : r.named)
            named.append(QJsonObject{{"caption", Q(n.caption)}, {"value", Q(n.words)}});
        QJsonObject object{{"register", r.reg}, {"value", r.value}};
        if (!named.isEmpty()) object["settings"] = named;
        array.append(object);
    }
    return array;
}

// What is wrong, and where: thrown by the checks below, caught once.
struct Damage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw Damage("Файл повреждён: " + where + " — " + what + ".");
}

QJsonValue Field(const QJsonObject& object, const char* name, const std::string& where) {
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined()) Fail(where, std::string("нет поля «") + name + "»");
    return value;
}

std::string Text(const QJsonObject& object, const char* name, const std::string& where) {
    const QJsonValue value = Field(object, name, where);
    if (!value.isString()) Fail(where, std::string("поле «") + name + "» должно быть строкой");
    return value.toString().toStdString();
}

int Integer(const QJsonObject& object, const char* name, int low, int high,
            const std::string& where) {
    const QJsonValue value = Field(object, name, where);
    const double number = value.toDouble(-1.0);
    if (!value.isDouble() || number != static_cast<double>(static_cast<long long>(number)) ||
        number < low || number > high)
        Fail(where, std::string("поле «") + name + "» должно быть целым от " + std::to_string(low) +
                        " до " + std::to_string(high));
    return static_cast<int>(number);
}

QJsonArray Array(const QJsonObject& object, const char* name, const std::string& where) {
    const QJsonValue value = Field(object, name, where);
    if (!value.isArray()) Fail(where, std::string("поле «") + name + "» должно быть списком");
    return value.toArray();
}

QJsonObject Object(const QJsonValue& value, const std::string& where) {
    if (!value.isObject()) Fail(where, "ожидалась запись в фигурных скобках");
    return value.toObject();
}

// The registers of one unit: each one of `allowed`, none twice.
std::vector<RecordedRegister>
ReadRegisters(const QJsonArray& array, const std::vector<int>& allowed, const std::string& where) {
    std::vector<RecordedRegister> registers;
    std::set<int> seen;
    for (int i = 0; i < array.size(); ++i) {
        const std::string at = where + ", запись " + std::to_string(i + 1);
        const QJsonObject object = Object(array[i], at);
        RecordedRegister r;
        r.reg = Integer(object, "register", 0, kRegisterCount - 1, at);
        const std::string atRegister = where + ", регистр " + std::to_string(r.reg);
        if (std::find(allowed.begin(), allowed.end(), r.reg) == allowed.end())
            Fail(atRegister, "этот регистр не хранит настроек этого блока");
        if (!seen.insert(r.reg).second) Fail(atRegister, "регистр записан дважды");
        r.value = static_cast<std::uint16_t>(Integer(object, "value", 0, 0xFFFF, atRegister));
        registers.push_back(r);
    }
    std::sort(registers.begin(), registers.end(),
              [](const RecordedRegister& a, const RecordedRegister& b) { return a.reg < b.reg; });
    return registers;
}

SettingsRecord ReadRecord(const QJsonObject& root, const OwnedBits& owned) {
    const std::string top = "заголовок";
    SettingsRecord record;
    record.savedAt = Text(root, "saved", top);
    record.station = Text(root, "station", top);
    record.port = Text(root, "port", top);
    record.speed = Integer(root, "speed", 1, 1000000, top);
    record.slaveAddress = Integer(root, "slave", 1, 247, top);
    record.network = ReadRegisters(Array(root, "network", top),
                                   SettingRegisters(kNetworkUnit, 0, owned), "сеть");

    const QJsonArray units = Array(root, "units", top);
    if (units.isEmpty()) Fail(top, "в файле нет ни одного блока");
    std::set<int> seen;
    for (int i = 0; i < units.size(); ++i) {
        const std::string at = "блок " + std::to_string(i + 1) + " списка";
        const QJsonObject object = Object(units[i], at);
        UnitRecord unit;
        unit.unit = Integer(object, "unit", 0, kUnits - 1, at);
        const std::string name = UnitName(unit.unit);
        if (!seen.insert(unit.unit).second) Fail(name, "блок записан дважды");
        const QJsonObject firmware = Object(Field(object, "firmware", name), name + ", прошивка");
        unit.firmwareMajor = Integer(firmware, "major", 0, 255, name + ", прошивка");
        unit.firmwareMinor = Integer(firmware, "minor", 0, 255, name + ", прошивка");
        unit.registers =
            ReadRegisters(Array(object, "registers", name),
                          SettingRegisters(unit.unit, unit.firmwareMajor, owned), name);
        record.units.push_back(std::move(unit));
    }
    std::sort(record.units.begin(), record.units.end(),
              [](const UnitRecord& a, const UnitRecord& b) { return a.unit < b.unit; });
    return record;
}

} // namespace

std::string SettingsToJson(const SettingsRecord& record) {
    QJsonArray units;
    for (const UnitRecord& u : record.units)
        units.append(QJsonObject{
            {"unit", u.unit},
            {"name", Q(UnitName(u.unit))},
            {"firmware", QJsonObject{{"major", u.firmwareMajor}, {"minor", u.firmwareMinor}}},
            {"registers", RegistersToJson(u.registers)}});
    const QJsonObject root{{"format", kFormatName},
                           {"version", kSchemaVersion},
                           {"saved", Q(record.savedAt)},
                           {"station", Q(record.station)},
                           {"port", Q(record.port)},
                           {"speed", record.speed},
                           {"slave", record.slaveAddress},
                           {"network", RegistersToJson(record.network)},
                           {"units", units}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

LoadedSettings SettingsFromJson(const std::string& bytes, const OwnedBits& owned) {
    LoadedSettings loaded;
    const QByteArray data = QByteArray::fromStdString(bytes);
    if (data.trimmed().isEmpty()) {
        loaded.error = "Файл пуст.";
        return loaded;
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &parse);
    if (parse.error != QJsonParseError::NoError) {
        // The parser stops where the text ends: the file was cut short, not scrambled.
        const bool cut = parse.offset >= data.trimmed().size() && !data.trimmed().endsWith('}');
        loaded.error = cut ? "Файл обрезан: данные кончаются раньше, чем запись."
                           : "Файл повреждён: нарушена запись JSON около байта " +
                                 std::to_string(parse.offset) + ".";
        return loaded;
    }
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value("format").toString() != QLatin1String(kFormatName)) {
        loaded.error = "Это не файл настроек KORVAN PRO.";
        return loaded;
    }
    const QJsonValue version = root.value("version");
    const double number = version.toDouble(0);
    if (!version.isDouble() || number < 1 || number != static_cast<int>(number)) {
        loaded.error = "Файл повреждён: номер версии формата не число.";
        return loaded;
    }
    if (number > kSchemaVersion) {
        loaded.error = "Файл записан более новой версией программы (формат " +
                       std::to_string(static_cast<int>(number)) + "); эта версия читает формат " +
                       std::to_string(kSchemaVersion) + ".";
        return loaded;
    }
    try {
        loaded.record = ReadRecord(root, owned);
    } catch (const Damage& damage) {
        loaded.error = damage.what();
        loaded.record = {};
    }
    return loaded;
}

} // namespace korvan::records
