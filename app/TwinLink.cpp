// TWIN: the serial link (start-up, port and speed changes, closing) and the poll cycle's reach
// into the window. The engine's logic is in modbus/; here it meets the port, the timers and the
// widgets.
#include "LinkLoss.h"
#include "MessageBoxes.h"
#include "PortFailure.h"
#include "PortList.h"
#include "WindowThread.h"
#include "monitor_code_3.h"

#include "Binding.h"

#include <QCloseEvent>

#include <array>
#include <exception>

using namespace korvan;

namespace {

struct LineSpeed {
    TBaudRate rate;
    int intervalMs; // both timers: a read of 116 registers must fit in one interval
};

// The items of PCSPD, "1200" to "57600".
constexpr std::array<LineSpeed, 7> kLineSpeeds{{
    {br1200, 4000},
    {br2400, 2000},
    {br4800, 1000},
    {br9600, 500},
    {br19200, 500},
    {br38400, 500},
    {br57600, 500},
}};

constexpr int kStartIntervalMs = 500;

// The cause of the start-up failure on a machine without serial ports, where the component only
// knows that an empty name did not open.
constexpr char kNoPortsCause[] = "Последовательные порты не найдены";

} // namespace

void TWIN::ConnectHandlers() {
    SEND_TIM.setTimerType(Qt::PreciseTimer);
    SEND_TIM.setInterval(kStartIntervalMs);
    TIMEOUT.setTimerType(Qt::PreciseTimer);
    TIMEOUT.setInterval(kStartIntervalMs);
    connect(&SEND_TIM, &QTimer::timeout, this, &TWIN::SEND_TIMTimer);
    connect(&TIMEOUT, &QTimer::timeout, this, &TWIN::TIMEOUTTimer);

    COMPORT.SetBaudRate(br9600);
    COMPORT.SetByteSize(bs8);
    COMPORT.SetParity(paNone);
    COMPORT.SetStopBits(sb1);
    COMPORT.SetInBufSize(2048);
    COMPORT.SetOutBufSize(2048);
    COMPORT.SetPort("COM3");
    COMPORT.SetSyncMethod(smThreadSync);
    COMPORT.OnRxChar = [this](TBComPort* Sender, std::int32_t Count) {
        COMPORTRxChar(Sender, Count);
    };

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
    COMPORT.SetPort(SelectedPort(com));
    try {
        OpenPort();
        Journal.PortOpened(QString::fromStdString(COMPORT.Port()));
    } catch (...) {
        SEND_TIM.stop();
        JournalPortError();
        ReportPortFailure(ports.empty() ? kNoPortsCause
                                        : PortFailureCause(std::current_exception()));
    }
    Engine.RxCount = 0;
    LayoutPanels();
    Engine.SetStartValues();
    ShowLinkLost();
    Engine.LayoutCountdown = PollEngine::kLayoutCountdownStart;
}

void TWIN::COMChange() {
    ForgetLostPort(); // the operator has chosen
    // Another port may lead to another unit: nothing meant for the old one goes out.
    Engine.Restart();
    try {
        COMPORT.Close();
        COMPORT.SetPort(SelectedPort(Widgets.ctrl.COM));
        OpenPort();
        Journal.PortChanged(QString::fromStdString(COMPORT.Port()));
    } catch (...) {
        // Polling stays stopped until the program is started again, as the message says.
        SEND_TIM.stop();
        JournalPortError();
        ShowLinkLost();
        ReportPortFailure(PortFailureCause(std::current_exception()));
    }
}

// Devices came or went: the list follows; the selected port stays selected and is not reopened.
void TWIN::RefreshPortList() {
    std::vector<std::string> ports;
    try {
        ListSerialPorts(ports);
    } catch (const EComPort&) {
        return; // the list stays as it was
    }
    SetPortItems(Widgets.ctrl.COM, ports, true);
    ReopenLostPortIfListed(ports);
}

void TWIN::PCSPDChange() {
    const TDropList* pcspd = Widgets.ctrl.PCSPD;
    if (pcspd->DroppedDown()) return;
    try {
        COMPORT.Close();
        const int index = pcspd->currentIndex();
        if (index >= 0 && index < static_cast<int>(kLineSpeeds.size())) {
            COMPORT.SetBaudRate(kLineSpeeds[index].rate);
            SEND_TIM.setInterval(kLineSpeeds[index].intervalMs);
            TIMEOUT.setInterval(kLineSpeeds[index].intervalMs);
            Journal.SpeedChanged(pcspd->currentText());
        }
        OpenPort();
    } catch (...) {
        // A failed reopen leaves the port closed; the next poll tick reports it.
        return;
    }
    // A lost device back before its list entry: polling resumes as it would from the list.
    if (!lostPort_.empty()) LostPortReopened();
}

void TWIN::FormClose() {
    try {
        COMPORT.Close();
    } catch (...) {
    }
}

void TWIN::SENDADRChange() {
    // Nothing pending for the unit at the old address may reach the new one.
    Engine.Restart();
}

void TWIN::closeEvent(QCloseEvent* event) {
    // Closing the window finishes an entry like leaving the field does.
    if (auto* field = qobject_cast<TEditField*>(focusWidget())) field->FinishEdit();
    Journal.StationStopped();
    FormClose();
    event->accept();
}

void TWIN::SEND_TIMTimer() {
    Engine.SEND_TIMTimer();
}

void TWIN::COMPORTRxChar(TBComPort*, std::int32_t Count) {
    Engine.COMPORTRxChar(Count);
}

void TWIN::TIMEOUTTimer() {
    Engine.TIMEOUTTimer();
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

void TWIN::PortWrite(const std::uint8_t* data, int count) {
    try {
        COMPORT.Write(data, count);
    } catch (...) {
        portFailureCause_ = PortFailureCause(std::current_exception());
        throw;
    }
}

int TWIN::PortRead(std::uint8_t* data, int count) {
    try {
        return COMPORT.Read(data, count);
    } catch (...) {
        portFailureCause_ = PortFailureCause(std::current_exception());
        throw;
    }
}

void TWIN::StartResponseTimer() {
    if (!TIMEOUT.isActive()) TIMEOUT.start();
}

void TWIN::StopResponseTimer() {
    TIMEOUT.stop();
}

bool TWIN::ResponseTimerRunning() const {
    return TIMEOUT.isActive();
}

void TWIN::StopPollTimer() {
    SEND_TIM.stop();
}

void TWIN::ShowPortError() {
    JournalPortError();
    PortFailed(portFailureCause_);
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

void TWIN::FitPanelsToUnits() {
    FitPanelsToUnits(Engine.LinkCredit, UnitCount(Engine.ShownImage));
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
