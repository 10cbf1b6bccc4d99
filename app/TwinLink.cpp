// TWIN: the link settings the operator chooses (port, speed, slave address), start-up and
// closing, and what the link shows in the window. The line itself is StationLink's.
#include "LinkLoss.h"
#include "MessageBoxes.h"
#include "PortFailure.h"
#include "PortList.h"
#include "WindowThread.h"
#include "monitor_code_3.h"

#include "Binding.h"

#include <QCloseEvent>
#include <QSignalBlocker>

#include <exception>

using namespace korvan;

namespace {

// The cause of the start-up failure on a machine without serial ports, where the component only
// knows that an empty name did not open.
constexpr char kNoPortsCause[] = "Последовательные порты не найдены";

} // namespace

void TWIN::ConnectHandlers() {
    const CommonWidgets& c = Widgets.ctrl;
    const auto checkEntries = [](TEditField* field, EntryRange range) {
        field->SetEntryCheck([range](const QString& entry) {
            return QString::fromStdString(EntryRefusal(entry.toStdString(), range));
        });
    };
    checkEntries(c.ADR, kAddressRange);
    checkEntries(c.DEL, kTimeoutRange);
    checkEntries(c.SENDADR, kSlaveAddressRange);
    for (const UnitWidgets& unit : Widgets.unit)
        for (TEditField* delay : unit.delay)
            checkEntries(delay, kDelayRange);
    view_.WatchChoices(this, [this] { SettingChosen(); });
    connect(c.SENDADR, &TEditField::EntryTaken, this, &TWIN::SENDADRChange);
    connect(c.COM, &QComboBox::currentIndexChanged, this, &TWIN::COMChange);
    connect(c.PCSPD, &QComboBox::currentIndexChanged, this, &TWIN::PCSPDChange);
    // Watching before the first read of the list, so that no change falls between the two.
    new PortListWatch([this] { RefreshPortList(); }, this);
    connect(c.GO_BUT, &QPushButton::clicked, this, &TWIN::GO_BUTClick);
    connect(c.ST_BUT, &QPushButton::clicked, this, &TWIN::ST_BUTClick);
    connect(c.RES_BUT, &QPushButton::clicked, this, &TWIN::RES_BUTClick);
    connect(c.RESTORE, &QPushButton::clicked, this, &TWIN::RESTOREClick);
    connect(c.FIND, &QPushButton::clicked, this, &TWIN::FINDClick);
    for (int k = 0; k < kUnitPanels; ++k)
        for (int n = 0; n < 2; ++n)
            connect(Widgets.unit[k].OUT[n], &TIndicator::MouseUp, this,
                    [this, k, n] { OUTMouseUp(k, n); });
    for (int n = 0; n < 4; ++n)
        connect(Widgets.master.RELAY[n], &TIndicator::MouseUp, this,
                [this, n] { RELAYMouseUp(n); });
}

void TWIN::FormCreate() {
    TDropList* com = Widgets.ctrl.COM;
    std::vector<std::string> ports;
    try {
        ListSerialPorts(ports);
    } catch (...) {
        // Without a port list the window still comes up; the poll timer's first tick then fails
        // on the unopened port and reports it.
        win::HandleException(std::current_exception());
        return;
    }
    SetPortItems(com, ports, false);
    {
        const QSignalBlocker quiet(com);
        com->setCurrentIndex(com->count() - 1);
    }
    Link.OpenAtStart(SelectedPort(com), ports.empty() ? kNoPortsCause : "");
    LayoutPanels();
    Link.Engine.SetStartValues();
    ShowLinkLost();
}

void TWIN::COMChange() {
    Link.ForgetLostPort(); // the operator has chosen
    // Another port may lead to another unit: nothing meant for the old one goes out.
    Link.Engine.Restart();
    Link.ChangePort(SelectedPort(Widgets.ctrl.COM));
}

// Devices came or went: the list follows; the selected port stays selected and is not reopened,
// unless it is the lost one coming back.
void TWIN::RefreshPortList() {
    std::vector<std::string> ports;
    try {
        ListSerialPorts(ports);
    } catch (const EComPort&) {
        return; // the list stays as it was
    }
    SetPortItems(Widgets.ctrl.COM, ports, true);
    Link.PortsListed(ports);
}

void TWIN::PCSPDChange() {
    const TDropList* pcspd = Widgets.ctrl.PCSPD;
    if (pcspd->DroppedDown()) return;
    Link.ChangeSpeed(pcspd->currentIndex(), pcspd->currentText());
}

void TWIN::FormClose() {
    Link.Close();
}

void TWIN::SENDADRChange() {
    // Nothing pending for the unit at the old address may reach the new one.
    Link.Engine.Restart();
}

void TWIN::closeEvent(QCloseEvent* event) {
    // Closing the window finishes an entry like leaving the field does.
    if (auto* field = qobject_cast<TEditField*>(focusWidget())) field->FinishEdit();
    Link.Journal.StationStopped();
    FormClose();
    event->accept();
}

void TWIN::SEND_TIMTimer() {
    Link.Engine.SEND_TIMTimer();
}

void TWIN::COMPORTRxChar(TBComPort*, std::int32_t Count) {
    Link.Engine.COMPORTRxChar(Count);
}

void TWIN::TIMEOUTTimer() {
    Link.Engine.TIMEOUTTimer();
}

void TWIN::EnsureControlsCurrent() {
    if (!controlsCurrent_) PullControls();
}

void TWIN::PushIfChanged(const WindowControls& before) {
    if (Controls == before) return;
    PushControls();
}

// ---- what the engine reaches ----------------------------------------------------------------

// The address taken when the operator finished typing it, not what is on screen meanwhile.
std::string TWIN::SendAddressText() const {
    return Widgets.ctrl.SENDADR->Value().toStdString();
}

void TWIN::ShowPortError(const std::string& cause) {
    ReportPortFailure(cause);
    controlsCurrent_ = false; // the operator had the window while the box was open
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

// Every routine below works on the plain control state: the widgets are read into it first when
// any of them has changed since the last read, so that nothing the operator did since is lost, and
// what changed is shown again afterwards. A reply that changes nothing, with nobody at the window,
// thus reads no widget and writes none. The operator's choices are not read here: they reach the
// engine as they are made.

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
