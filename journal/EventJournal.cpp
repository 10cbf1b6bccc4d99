#include "EventJournal.h"

#include "Catalogue.h"
#include "ModbusFrames.h"
#include "PollEngine.h"
#include "WindowDescription.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace korvan {

namespace {

const QString kArrow = QStringLiteral(" → ");

bool IsFault(const QString& words) {
    return words.compare(QStringLiteral("неисправность"), Qt::CaseInsensitive) == 0;
}

// Modules 1 .. count - 1 are on the network; a unit without module support reports 0.
bool InNetwork(const RegisterImage& image, int unit) {
    return unit <= 0 || unit < UnitCount(image);
}

// "Вход 3 — сработал"; a unit's state stands alone: "Норма", "Неисправность".
QString IndicatorEvent(const CatalogueItem& item, const QString& words) {
    if (item.words == IndicatorWords::State) return words;
    return item.caption + QStringLiteral(" — ") + words;
}

// The command buttons by what they write: the text is the button's hint in the window.
QString CommandText(int reg, int value) {
    struct Command {
        int reg;
        int value;
        const char* button;
    };
    static constexpr std::array<Command, 4> kCommands{{
        {reg::CommandSignal, kCommandStart, "GO_BUT"},
        {reg::CommandSignal, kCommandStop, "ST_BUT"},
        {reg::ServiceCommand, kCommandReset, "RES_BUT"},
        {reg::ServiceCommand, kCommandRestore, "RESTORE"},
    }};
    for (const Command& command : kCommands) {
        if (command.reg != reg || command.value != value) continue;
        const DescribedControl* button = DescribeControl(QString::fromLatin1(command.button));
        if (button != nullptr) return button->hint;
    }
    return {};
}

// One line for a unit as the link comes up: its state, its drive and every indicator not at rest.
QString BaselineText(int unit, const std::vector<QString>& words) {
    const std::vector<CatalogueItem>& items = CatalogueItems();
    QStringList state;
    QStringList drive;
    QStringList active;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const CatalogueItem& item = items[i];
        if (item.unit != unit || words[i].isEmpty()) continue;
        if (item.words == IndicatorWords::State)
            state << words[i];
        else if (item.kind == ItemKind::Indicator &&
                 words[i] != IndicatorColourWords(item.words, kGreen))
            active << IndicatorEvent(item, words[i]);
        else if (item.kind == ItemKind::Setting && item.name.startsWith(QStringLiteral("Ut_")))
            drive << item.caption + QStringLiteral(": ") + words[i];
    }
    const QStringList parts = state + drive + active;
    QString text = QStringLiteral("состояние при подключении");
    if (!parts.isEmpty()) text += QStringLiteral(": ") + parts.join(QStringLiteral("; "));
    return text;
}

// Where an item sits among its unit's indicators; -1 for a setting.
int IndicatorSlot(int item) {
    static const std::vector<int> slotOf = [] {
        std::vector<int> slotOf(CatalogueItems().size(), -1);
        for (int unit = kNetworkUnit; unit < kUnitPanels; ++unit) {
            const std::vector<int>& indicators = UnitIndicators(unit);
            for (std::size_t i = 0; i < indicators.size(); ++i)
                slotOf[static_cast<std::size_t>(indicators[i])] = static_cast<int>(i);
        }
        return slotOf;
    }();
    return slotOf[static_cast<std::size_t>(item)];
}

IndicatorState StateOf(const CatalogueItem& item, const QString& words) {
    if (words.isEmpty()) return IndicatorState::Grey;
    if (IsFault(words)) return IndicatorState::Fault;
    if (words == IndicatorColourWords(item.words, kGreen)) return IndicatorState::Rest;
    return IndicatorState::Active;
}

// Every indicator of `unit` in `words`, two bits each.
std::uint32_t UnitStates(int unit, const std::vector<QString>& words) {
    const std::vector<CatalogueItem>& items = CatalogueItems();
    const std::vector<int>& indicators = UnitIndicators(unit);
    std::uint32_t states = 0;
    for (std::size_t i = 0; i < indicators.size(); ++i) {
        const auto item = static_cast<std::size_t>(indicators[i]);
        states |= static_cast<std::uint32_t>(StateOf(items[item], words[item])) << (2 * i);
    }
    return states;
}

// A setting that takes a unit out of use, or back, greys its indicators or shows them again
// without an indicator event: the setting's event tells them.
std::uint16_t Greyed(int unit, const std::vector<QString>& old, const std::vector<QString>& now) {
    std::uint16_t greyed = 0;
    const std::vector<int>& indicators = UnitIndicators(unit);
    for (std::size_t s = 0; s < indicators.size(); ++s) {
        const auto at = static_cast<std::size_t>(indicators[s]);
        if (old[at] != now[at] && (old[at].isEmpty() || now[at].isEmpty()))
            greyed |= static_cast<std::uint16_t>(1u << s);
    }
    return greyed;
}

std::uint16_t AllIndicators(int unit) {
    return static_cast<std::uint16_t>((1u << UnitIndicators(unit).size()) - 1);
}

} // namespace

const std::vector<int>& UnitIndicators(int unit) {
    static const std::vector<std::vector<int>> units = [] {
        std::vector<std::vector<int>> units(kUnitPanels + 1);
        const std::vector<CatalogueItem>& items = CatalogueItems();
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i].kind == ItemKind::Indicator)
                units[static_cast<std::size_t>(items[i].unit + 1)].push_back(static_cast<int>(i));
        return units;
    }();
    return units[static_cast<std::size_t>(unit + 1)];
}

EventJournal::EventJournal(int capacity) : log_(capacity) {}

void EventJournal::Add(int unit, EventKind kind, EventSource source, QString text, bool alarm,
                       std::uint16_t told, std::uint32_t states) {
    log_.Add({.time = std::chrono::system_clock::now(),
              .text = std::move(text),
              .unit = static_cast<std::int8_t>(unit),
              .kind = kind,
              .source = source,
              .alarm = alarm,
              .told = told,
              .states = states});
}

void EventJournal::ExchangeClosed(const ExchangeRecord& record) noexcept {
    if (engine_ == nullptr) return;
    try {
        Take(record);
    } catch (...) {
        // An event lost is better than an exception through the poll cycle.
    }
}

void EventJournal::Take(const ExchangeRecord& record) {
    const bool write = record.request[1] == kWriteSingleRegister;
    const int reg = record.request[2] << 8 | record.request[3];
    const int value = record.request[4] << 8 | record.request[5];
    if (write) SeeWrite(reg, value, record);
    if (record.linkLost) {
        LinkLost();
        return;
    }
    if (record.verdict == ExchangeVerdict::Good) {
        if (write)
            Confirm(reg);
        else
            ReadApplied(2 * value);
    } else if (write && reg == reg::ServiceCommand) {
        Unconfirmed(); // the engine does not send a service command twice
        pending_.reset();
    }
}

void EventJournal::SeeWrite(int reg, int value, const ExchangeRecord&) {
    if (pending_ && pending_->reg == reg && pending_->value == value) return; // sent again
    pending_.emplace();
    pending_->reg = reg;
    pending_->value = value;
    // A choice journaled when it was made is not journaled again as it goes out.
    if (const auto choice = chosen_.find(reg); choice != chosen_.end()) {
        const bool same = ((value ^ choice->second.value) & choice->second.mask) == 0;
        if (same) pending_->what = std::move(choice->second.what);
        chosen_.erase(choice);
        if (same) return;
    }
    if (const QString command = CommandText(reg, value); !command.isEmpty()) {
        pending_->what.emplace_back(kNetworkUnit, command);
        Add(kNetworkUnit, EventKind::Operator, EventSource::Operator, command);
        return;
    }
    if (reg < 0 || reg >= kRegisterCount) return;
    Edit(reg, value, pending_->what);
}

void EventJournal::Edit(int reg, int value, std::vector<std::pair<int, QString>>& what) {
    for (const Change& change : ChangesOf(reg, value)) {
        what.emplace_back(change.unit, change.caption + QStringLiteral(": ") + change.after);
        Add(change.unit, EventKind::Operator, EventSource::Operator,
            change.caption + QStringLiteral(": ") + change.before + kArrow + change.after);
    }
}

std::vector<EventJournal::Change> EventJournal::ChangesOf(int reg, int value) const {
    std::vector<Change> changes;
    if (reg < 0 || reg >= kRegisterCount) return changes;
    RegisterImage after = last_;
    SetRegisterValue(after, reg, static_cast<std::uint16_t>(value));
    const std::vector<QString> before = ImageWords(last_);
    const std::vector<QString> wanted = ImageWords(after);
    const std::vector<CatalogueItem>& items = CatalogueItems();
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (before[i] == wanted[i] || wanted[i].isEmpty()) continue;
        const CatalogueItem& item = items[i];
        changes.push_back({item.unit, item.caption, before[i], wanted[i]});
    }
    return changes;
}

void EventJournal::ChoiceMade(int reg, std::uint16_t mask, std::uint16_t value) noexcept {
    if (reg < 0 || reg >= kRegisterCount || mask == 0) return;
    try {
        const int wanted = (RegisterValue(last_, reg) & ~mask) | (value & mask);
        Choice& choice = chosen_[reg]; // the newest choice for a register wins
        choice = {};
        choice.mask = mask;
        choice.value = value;
        // A command by its button's words, as it will go out.
        if (const QString command = CommandText(reg, wanted);
            reg == reg::CommandSignal && !command.isEmpty()) {
            choice.what.emplace_back(kNetworkUnit, command);
            Add(kNetworkUnit, EventKind::Operator, EventSource::Operator, command);
            return;
        }
        Edit(reg, wanted, choice.what);
    } catch (...) {
        // An event lost is better than an exception through the operator's action.
    }
}

void EventJournal::Confirm(int reg) {
    RegisterImage after = last_;
    if (reg >= 0 && reg < kRegisterCount)
        SetRegisterValue(after, reg, RegisterValue(engine_->ShownImage(), reg));
    if (pending_ && pending_->reg == reg) {
        const std::vector<QString> old = ImageWords(last_);
        const std::vector<QString> now = ImageWords(after);
        for (const auto& [unit, what] : pending_->what)
            Add(unit, EventKind::Operator, EventSource::Unit,
                what + QStringLiteral(" — подтверждено"), false, Greyed(unit, old, now),
                UnitStates(unit, now));
        pending_.reset();
    }
    last_ = after;
}

void EventJournal::Unconfirmed() {
    if (!pending_ || pending_->reportedUnconfirmed) return;
    for (const auto& [unit, what] : pending_->what)
        Add(unit, EventKind::Operator, EventSource::Station,
            what + QStringLiteral(" — не подтверждено"));
    pending_->reportedUnconfirmed = true;
}

void EventJournal::SessionEnded(DropCause cause, bool linkWasUp) noexcept {
    try {
        if (cause == DropCause::PortLost && linkWasUp) PortLost();
        linkUp_ = false;
    } catch (...) {
    }
}

void EventJournal::ChoicesDropped(const DroppedChoices& dropped) noexcept {
    try {
        // Never to be sent again: what was journaled as chosen goes with it.
        if (dropped.cause != DropCause::LinkLost) {
            pending_.reset();
            chosen_.clear();
        } else {
            chosen_.erase(reg::CommandSignal);
        }
        const QString why =
            QStringLiteral(" — не отправлено: ") + QString::fromUtf8(DropCauseWords(dropped.cause));
        for (const DroppedChoices::Bits& choice : dropped.choices) {
            const int held = RegisterValue(last_, choice.reg);
            const int value = (held & ~choice.mask) | choice.value;
            if (const QString command = CommandText(choice.reg, value & 0xFF);
                choice.reg == reg::CommandSignal && !command.isEmpty()) {
                Add(kNetworkUnit, EventKind::Operator, EventSource::Station, command + why, true);
                continue;
            }
            for (const Change& change : ChangesOf(choice.reg, value))
                Add(change.unit, EventKind::Operator, EventSource::Station,
                    change.caption + QStringLiteral(": ") + change.after + why, true);
        }
        if (dropped.serviceCommand >= 0) {
            const QString command = CommandText(reg::ServiceCommand, dropped.serviceCommand);
            if (!command.isEmpty())
                Add(kNetworkUnit, EventKind::Operator, EventSource::Station, command + why, true);
        }
    } catch (...) {
        // An event lost is better than an exception through the poll cycle.
    }
}

void EventJournal::PortLost() {
    if (linkUp_) LinkLost();
}

void EventJournal::LinkLost() {
    Add(kNetworkUnit, EventKind::Link, EventSource::Station, QStringLiteral("связь потеряна"),
        true);
    // The engine goes on sending an unechoed write; if it is echoed after all, that is recorded.
    Unconfirmed();
    linkUp_ = false;
}

void EventJournal::ReadApplied(int bytes) {
    const RegisterImage& shown = engine_->ShownImage();
    bytes = std::clamp(bytes, 0, static_cast<int>(shown.size()));
    // Registers read for the first time (the wider read of a newer unit) are news, not changes.
    if (bytes > known_) {
        std::copy(shown.begin() + known_, shown.begin() + bytes, last_.begin() + known_);
        known_ = bytes;
    }
    if (!linkUp_) {
        // The engine sends an unconfirmed write again after the first read: that is no new
        // action of the operator. One the unit already holds is done.
        if (pending_ && pending_->reg * 2 < bytes && pending_->reg != reg::ServiceCommand &&
            RegisterValue(shown, pending_->reg) == pending_->value)
            Confirm(pending_->reg);
        Connected();
        linkUp_ = true;
    }
    if (std::equal(shown.begin(), shown.begin() + bytes, last_.begin())) return;
    RegisterImage after = last_;
    std::copy(shown.begin(), shown.begin() + bytes, after.begin());
    Compare(last_, after);
    last_ = after;
}

void EventJournal::Connected() {
    const RegisterImage& now = engine_->ShownImage();
    const std::vector<QString> words = ImageWords(now);
    Add(kNetworkUnit, EventKind::Link, EventSource::Station,
        everConnected_ ? QStringLiteral("связь восстановлена")
                       : QStringLiteral("связь установлена"),
        false, AllIndicators(kNetworkUnit), UnitStates(kNetworkUnit, words));
    everConnected_ = true;
    const std::vector<CatalogueItem>& items = CatalogueItems();
    for (int unit = 0; unit < kUnitPanels; ++unit) {
        if (!InNetwork(now, unit)) continue;
        bool fault = false;
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i].unit == unit && items[i].words == IndicatorWords::State)
                fault = IsFault(words[i]);
        Add(unit, EventKind::State, EventSource::Unit, BaselineText(unit, words), fault,
            AllIndicators(unit), UnitStates(unit, words));
    }
}

void EventJournal::Compare(const RegisterImage& before, const RegisterImage& after) {
    const std::vector<QString> old = ImageWords(before);
    const std::vector<QString> now = ImageWords(after);
    for (int unit = 1; unit < kUnitPanels; ++unit) {
        const bool was = InNetwork(before, unit);
        const bool is = InNetwork(after, unit);
        if (was == is) continue;
        Add(unit, EventKind::Link, EventSource::Unit,
            is ? QStringLiteral("появился в составе сети")
               : QStringLiteral("исчез из состава сети"),
            !is, AllIndicators(unit), is ? UnitStates(unit, now) : 0);
    }
    const std::vector<CatalogueItem>& items = CatalogueItems();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const CatalogueItem& item = items[i];
        // Grey is no state: a unit not in use, or out of the network, has nothing to tell.
        if (old[i] == now[i] || old[i].isEmpty() || now[i].isEmpty()) continue;
        if (!InNetwork(after, item.unit)) continue;
        if (item.kind == ItemKind::Indicator) {
            const int slot = IndicatorSlot(static_cast<int>(i));
            Add(item.unit, EventKind::State, EventSource::Unit, IndicatorEvent(item, now[i]),
                IsFault(now[i]), static_cast<std::uint16_t>(1u << slot),
                static_cast<std::uint32_t>(StateOf(item, now[i])) << (2 * slot));
        } else {
            Add(item.unit, EventKind::Setting, EventSource::Unit,
                item.caption + QStringLiteral(": ") + old[i] + kArrow + now[i], false,
                Greyed(item.unit, old, now), UnitStates(item.unit, now));
        }
    }
}

void EventJournal::StationStarted() {
    Add(kStationUnit, EventKind::Link, EventSource::Station, QStringLiteral("станция запущена"));
}

void EventJournal::StationStopped() {
    Add(kStationUnit, EventKind::Link, EventSource::Station, QStringLiteral("станция остановлена"));
}

void EventJournal::PortOpened(const QString& port) {
    Add(kStationUnit, EventKind::Link, EventSource::Station,
        QStringLiteral("порт %1 открыт").arg(port));
}

void EventJournal::PortChanged(const QString& port) {
    Add(kStationUnit, EventKind::Link, EventSource::Operator,
        QStringLiteral("порт сменен: %1").arg(port));
}

void EventJournal::SpeedChanged(const QString& speed) {
    Add(kStationUnit, EventKind::Link, EventSource::Operator,
        QStringLiteral("скорость сменена: %1").arg(speed));
}

void EventJournal::PortError(const QString& port, const QString& message) {
    Add(kStationUnit, EventKind::Link, EventSource::Station,
        QStringLiteral("ошибка порта %1: %2").arg(port, message), true);
}

void EventJournal::FileWriteStarted(const QString& text) {
    Add(kNetworkUnit, EventKind::Operator, EventSource::Operator, text);
}

void EventJournal::FileWriteEnded(const QString& text, bool complete) {
    Add(kNetworkUnit, EventKind::Operator, EventSource::Station, text, !complete);
}

void EventJournal::BusScanned(const std::vector<std::pair<int, int>>& finds, bool stopped) {
    QStringList where;
    for (const auto& [address, baud] : finds)
        where << QStringLiteral("адрес %1, скорость %2").arg(address).arg(baud);
    QString text = QStringLiteral("Поиск блоков: найдено %1").arg(finds.size());
    if (!where.isEmpty()) text += QStringLiteral(" (%1)").arg(where.join(QStringLiteral("; ")));
    if (stopped) text += QStringLiteral(", поиск остановлен");
    Add(kStationUnit, EventKind::Link, EventSource::Operator, text);
}

void EventJournal::BusScanConnected(int address, int baud) {
    Add(kStationUnit, EventKind::Link, EventSource::Operator,
        QStringLiteral("Поиск блоков: подключение к адресу %1, скорость %2")
            .arg(address)
            .arg(baud));
}

} // namespace korvan
