// TWIN as the view of its link: the plain control state and its widgets, and what the link and its
// poll engine show in the window.
//
// Every display routine here works on the plain control state: the widgets are read into it first
// when any of them has changed since the last read, so that nothing the operator did since is
// lost, and what changed is shown again afterwards. A reply that changes nothing, with nobody at
// the window, thus reads no widget and writes none. The operator's choices are not read here:
// they reach the engine as they are made.
#include "Binding.h"
#include "Catalogue.h"
#include "LinkLoss.h"
#include "MessageBoxes.h"
#include "PortFailure.h"
#include "PortList.h"
#include "monitor_code_3.h"

#include <QMessageBox>
#include <QSignalBlocker>

#include <algorithm>
#include <cstdio>

using namespace korvan;

void TWIN::PullControls() {
    view_.Pull(Controls);
    controlsCurrent_ = true;
}

void TWIN::PushControls() {
    view_.Push(Controls);
    // A value a widget cannot take (a list index out of range) leaves it showing something else:
    // the next reader looks again.
    controlsCurrent_ = false;
}

void TWIN::EnsureControlsCurrent() {
    if (!controlsCurrent_) PullControls();
}

void TWIN::PushIfChanged(const WindowControls& before) {
    if (Controls == before) return;
    PushControls();
}

// The address taken when the operator finished typing it, not what is on screen meanwhile.
std::string TWIN::SendAddressText() const {
    return Widgets.ctrl.SENDADR->Value().toStdString();
}

// One box at a time: a further failure while it is open says its cause there; the port's
// return closes it, as its text is then no longer true. A closed box lives on until the event
// loop deletes it, so only a visible one takes a new cause: a failure in that moment gets a box.
void TWIN::ShowPortError(const std::string& cause) {
    const std::string text = ReportPortFailure(cause);
    if (portBox_ != nullptr && portBox_->isVisible()) {
        portBox_->setText(QString::fromStdString(text));
        return;
    }
    portBox_ = OpenStationBox(MessageKind::Error, text, this);
}

void TWIN::ClosePortError() {
    if (portBox_ != nullptr) portBox_->close();
    portBox_ = nullptr;
}

void TWIN::ShowPortNote(const QString& note) {
    Widgets.ctrl.ONLINE->setToolTip(note);
}

void TWIN::PortRenamed(const std::string& port, const std::vector<std::string>& ports) {
    TDropList* com = Widgets.ctrl.COM;
    {
        const QSignalBlocker quiet(com);
        com->setCurrentIndex(com->findData(QByteArray::fromStdString(port)));
    }
    SetPortItems(com, ports, true); // the old name goes
}

void TWIN::ImageToControls(const RegisterImage& image) {
    EnsureControlsCurrent();
    korvan::ImageToControls(image, Controls);
    PushControls();
}

int TWIN::GreyOutDisabledUnits(const RegisterImage& image) {
    EnsureControlsCurrent();
    const WindowControls before = Controls;
    const int stale = korvan::GreyOutDisabledUnits(image, Controls);
    PushIfChanged(before);
    return stale;
}

void TWIN::ShowLinkLost() {
    EnsureControlsCurrent();
    const WindowControls before = Controls;
    korvan::ShowLinkLost(Controls);
    PushIfChanged(before);
}

void TWIN::SetOnlineColour(Colour colour) {
    // One indicator: no need to read or write the others.
    Controls.ctrl.ONLINE = colour;
    if (Widgets.ctrl.ONLINE->colour() != colour) Widgets.ctrl.ONLINE->setColour(colour);
}

// Names the settings a written value changes as the window does: each setting whose bits the
// value would have changed, with the value in its own words ("Скорость = 4800").
QString TWIN::SettingsOfWrite(int reg, std::uint16_t value) const {
    RegisterImage written = Link.Engine.ShownImage();
    SetRegisterValue(written, reg, value);
    const std::uint16_t changed = value ^ RegisterValue(Link.Engine.ShownImage(), reg);
    WindowControls asWritten;
    ShownControls(written, asWritten);
    QString settings;
    for (const CatalogueItem& item : CatalogueItems()) {
        const bool touched = std::any_of(item.bits.begin(), item.bits.end(), [&](const auto& b) {
            return b.reg == reg && (b.mask & changed) != 0;
        });
        if (!touched) continue;
        if (!settings.isEmpty()) settings += QStringLiteral(", ");
        if (item.unit != kNetworkUnit)
            settings += CatalogueUnitName(item.unit) + QStringLiteral(": ");
        settings += item.caption + QStringLiteral(" = ") + ItemWords(item, asWritten);
    }
    if (settings.isEmpty()) settings = QStringLiteral("рег. %1 = %2").arg(reg).arg(value);
    return settings;
}

void TWIN::ReportWriteRefused(int reg, std::uint16_t value, std::uint8_t code) {
    char codeText[8];
    std::snprintf(codeText, sizeof codeText, "%02X", code);
    StationNotice("Блок отклонил запись: " + SettingsOfWrite(reg, value).toStdString() +
                  " (исключение " + codeText + ")");
}

void TWIN::ReportWriteUnanswered(int reg, std::uint16_t value) {
    StationNotice("Блок не ответил на запись: " + SettingsOfWrite(reg, value).toStdString());
}

// What was chosen and not sent is said once, in one notice; the journal lists it too.
void TWIN::ReportChoicesDropped(const DroppedChoices& dropped) {
    QStringList what;
    for (const DroppedChoices::Bits& choice : dropped.choices) {
        if (choice.reg == reg::CommandSignal && choice.mask == 0x00FF) {
            what << (choice.value == kCommandStart ? QStringLiteral("команда «Пуск»")
                                                   : QStringLiteral("команда «Останов»"));
            continue;
        }
        const std::uint16_t shown = RegisterValue(Link.Engine.ShownImage(), choice.reg);
        what << SettingsOfWrite(choice.reg,
                                static_cast<std::uint16_t>((shown & ~choice.mask) | choice.value));
    }
    if (dropped.serviceCommand == kCommandReset) what << QStringLiteral("команда «Сброс»");
    if (dropped.serviceCommand == kCommandRestore)
        what << QStringLiteral("команда «Восст. зав. настр.»");
    if (what.isEmpty()) return;
    StationNotice(
        QStringLiteral("Не отправлено (%1): %2")
            .arg(QString::fromUtf8(DropCauseWords(dropped.cause)), what.join(QStringLiteral("; ")))
            .toStdString());
}

bool TWIN::ShowMessage(MessageKind kind, const std::string& text) {
    return StationMessageBox(kind, text);
}
