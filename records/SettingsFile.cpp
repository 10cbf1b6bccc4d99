#include "SettingsFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <set>
#include <stdexcept>

namespace korvan::records {

namespace {

// The file is written by hand, not by QJsonDocument, which sorts the keys: in the order a person
// reads, one register to a line with its unit and captions, so that a diff of two files shows in
// each hunk which unit and which setting changed.
std::string Json(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            quoted += "\\u00";
            quoted += kHex[byte >> 4];
            quoted += kHex[byte & 15];
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string RegistersToJson(const std::vector<RecordedRegister>& registers, int unit,
                            const std::string& indent) {
    if (registers.empty()) return "[]";
    std::string json = "[";
    for (std::size_t i = 0; i < registers.size(); ++i) {
        const RecordedRegister& r = registers[i];
        json += (i > 0 ? ",\n" : "\n") + indent + "    {\"register\": " + std::to_string(r.reg) +
                ", \"unit\": " + Json(UnitName(unit)) + ", \"value\": " + std::to_string(r.value);
        if (!r.named.empty()) {
            json += ", \"settings\": [";
            for (std::size_t n = 0; n < r.named.size(); ++n)
                json += (n > 0 ? ", " : "") + std::string("{\"caption\": ") +
                        Json(r.named[n].caption) + ", \"value\": " + Json(r.named[n].words) + "}";
            json += "]";
        }
        json += "}";
    }
    return json + "\n" + indent + "]";
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
    std::string json =
        "{\n    \"format\": " + Json(kFormatName) +
        ",\n    \"version\": " + std::to_string(kSchemaVersion) +
        ",\n    \"saved\": " + Json(record.savedAt) +
        ",\n    \"station\": " + Json(record.station) + ",\n    \"port\": " + Json(record.port) +
        ",\n    \"speed\": " + std::to_string(record.speed) +
        ",\n    \"slave\": " + std::to_string(record.slaveAddress) +
        ",\n    \"network\": " + RegistersToJson(record.network, kNetworkUnit, "    ") +
        ",\n    \"units\": [";
    for (std::size_t i = 0; i < record.units.size(); ++i) {
        const UnitRecord& u = record.units[i];
        json += std::string(i > 0 ? "," : "") +
                "\n        {\n            \"unit\": " + std::to_string(u.unit) +
                ",\n            \"name\": " + Json(UnitName(u.unit)) +
                ",\n            \"firmware\": {\"major\": " + std::to_string(u.firmwareMajor) +
                ", \"minor\": " + std::to_string(u.firmwareMinor) +
                "},\n            \"registers\": " +
                RegistersToJson(u.registers, u.unit, "            ") + "\n        }";
    }
    return json + (record.units.empty() ? "]\n}\n" : "\n    ]\n}\n");
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
        // The parser stops where the text ends: the file was cut short, not scrambled. A cut in
        // the middle of a letter stops it at that letter, up to three bytes before the end.
        const QByteArray text = data.trimmed();
        const bool cut = parse.offset >= text.size() - 3 && !text.endsWith('}');
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
