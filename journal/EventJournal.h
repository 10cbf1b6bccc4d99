// The event journal: what happened to the units during this run, in the window's words. It hears
// every closed exchange from the engine, like the traffic record, and reads the engine's confirmed
// image after it; the engine knows nothing of it. The window tells it of the station's own doings
// (start, stop, the port).
//
// What it records, once each:
//   - at the first good read after start-up or a link loss: "связь установлена" (or
//     "восстановлена") and one "состояние при подключении" line per unit in the network; after a
//     loss, then whatever differs from the image before the loss;
//   - at every later applied read that changed the image: each indicator that changed, each
//     setting changed on the unit (old → new), each module that came into or left the network;
//   - each write the station sends, once however often it is repeated: the operator's edit
//     (old → new), command or forced output, then "подтверждено" at its echo, or
//     "не подтверждено" when the link is lost first (at once for a one-shot service command the
//     unit did not echo, as it is never sent again);
//   - "связь потеряна" at the exchange that lost the link, or when the port fails while the link
//     is up (the reopened port's first good read then gives "связь восстановлена");
//   - an operator's choice when it is made, if the window tells it (ChoiceMade); its write then
//     adds only the confirmation;
//   - a write-back from a settings file, and its outcome, as the records window tells it.
// A reply the engine did not apply (bad CRC, wrong length or address, a read held back for a
// write) changes nothing it reads, so it records nothing. Words come from the catalogue over the
// images, never from the widgets, so the grey the window shows for a lost link is never a state.
#pragma once

#include "EventLog.h"
#include "ExchangeRecord.h"
#include "RegisterImage.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace korvan {

class PollEngine;

// The catalogue indices of a unit's indicators (kNetworkUnit .. 9), in catalogue order: the slots
// of JournalEvent::told and states. At most 16.
const std::vector<int>& UnitIndicators(int unit);

class EventJournal final : public ExchangeObserver {
  public:
    explicit EventJournal(int capacity = EventLog::kCapacity);

    // The engine whose images are read as its exchanges close; until then they pass unseen.
    void Watch(const PollEngine& engine) { engine_ = &engine; }

    void ExchangeClosed(const ExchangeRecord& record) noexcept override;
    // "Задержка вкл. 1: 61 — не отправлено: связь с портом потеряна", one line per setting.
    void ChoicesDropped(const DroppedChoices& dropped) noexcept override;
    // A port failure loses the link as a silent unit does; any session's end starts the next
    // one from a baseline.
    void SessionEnded(DropCause cause, bool linkWasUp) noexcept override;

    // The station's own doings, told by the window.
    void StationStarted();
    void StationStopped();
    void PortOpened(const QString& port);
    void PortChanged(const QString& port);   // the operator picked another port
    void SpeedChanged(const QString& speed); // the operator picked another line speed
    void PortError(const QString& port, const QString& message);
    // The open port failed: the link is lost with it, once, however the port failed.
    void PortLost();

    // The operator chose `value` for the bits `mask` of register `reg`, to be written when the
    // link allows; journaled now, in the window's words, and confirmed at the unit's echo.
    void ChoiceMade(int reg, std::uint16_t mask, std::uint16_t value) noexcept override;

    // "Запись из файла <имя>: N параметров в M блоках", then how it ended.
    void FileWriteStarted(const QString& text);
    void FileWriteEnded(const QString& text, bool complete);
    // A bus scan ended with these finds (address, speed), and the unit then connected to.
    void BusScanned(const std::vector<std::pair<int, int>>& finds, bool stopped);
    void BusScanConnected(int address, int baud);

    const EventLog& Log() const { return log_; }

  private:
    struct PendingWrite {
        int reg = 0;
        int value = 0;
        std::vector<std::pair<int, QString>> what; // unit, "caption: new value" or the command
        bool reportedUnconfirmed = false;
    };

    struct Choice {
        std::uint16_t mask = 0;
        std::uint16_t value = 0;
        std::vector<std::pair<int, QString>> what;
    };

    void Take(const ExchangeRecord& record);
    // The events of `reg` changing to `value` over the accounted image; `what` gets each one's
    // unit and "caption: new value".
    void Edit(int reg, int value, std::vector<std::pair<int, QString>>& what);
    void SeeWrite(int reg, int value, const ExchangeRecord& record);
    void Confirm(int reg);
    void Unconfirmed();
    void LinkLost();
    void ReadApplied(int bytes);
    void Connected();
    void Compare(const RegisterImage& before, const RegisterImage& after);
    // The settings that `value` in `reg` changes against what the journal has seen: the unit,
    // the caption and the words before and after, for each.
    struct Change {
        int unit;
        QString caption;
        QString before;
        QString after;
    };
    std::vector<Change> ChangesOf(int reg, int value) const;
    void Add(int unit, EventKind kind, EventSource source, QString text, bool alarm = false,
             std::uint16_t told = 0, std::uint32_t states = 0);

    EventLog log_;
    const PollEngine* engine_ = nullptr;
    RegisterImage last_{}; // the image the journal has accounted for
    int known_ = 0;        // bytes of last_ that some read has filled
    bool linkUp_ = false;  // a baseline is set and no loss since
    bool everConnected_ = false;
    std::optional<PendingWrite> pending_;
    std::map<int, Choice> chosen_; // journaled choices not yet sent, by register
};

} // namespace korvan
