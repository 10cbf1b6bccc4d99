// TWIN: the link settings the operator chooses (port, speed, slave address), start-up and
// closing. The line itself is StationLink's.
#include "NetPortDialog.h"
#include "PortList.h"
#include "WindowThread.h"
#include "monitor_code_3.h"

#include <QCloseEvent>
#include <QSignalBlocker>

#include <exception>

using namespace korvan;

namespace {

// The cause of the start-up failure on a machine without serial ports, where the component only
// knows that an empty name did not open.
constexpr char kNoPortsCause[] = "Последовательные порты не найдены";

} // namespace

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
        // The last serial port: "Сетевой порт…" after it is never chosen at start.
        const QSignalBlocker quiet(com);
        com->setCurrentIndex(static_cast<int>(ports.size()) - 1);
    }
    Link.OpenAtStart(SelectedPort(com), ports.empty() ? kNoPortsCause : "");
    LayoutPanels();
    Link.Engine.SetStartValues();
    ShowLinkLost();
}

void TWIN::COMChange() {
    TDropList* com = Widgets.ctrl.COM;
    if (NetworkPortItemSelected(com)) {
        // Asked from the event loop, not inside the list's own signal.
        QMetaObject::invokeMethod(
            this, [this] { ChooseNetworkPort(); }, Qt::QueuedConnection);
        return;
    }
    Link.ChangePort(SelectedPort(com));
    Widgets.ctrl.PCSPD->setToolTip(SpeedListHint(Link.COMPORT.Port()));
}

// "Сетевой порт…": the port typed and connected is listed and opened; "Отмена" goes back to the
// port that was open.
void TWIN::ChooseNetworkPort() {
    TDropList* com = Widgets.ctrl.COM;
    const std::string previous = Link.COMPORT.Port();
    const std::optional<std::string> port = AskNetworkPort(this);
    if (!port) {
        SelectPort(com, previous);
        return;
    }
    AddNetworkPort(com, *port);
    SelectPort(com, *port);
    Link.ChangePort(*port);
    Widgets.ctrl.PCSPD->setToolTip(SpeedListHint(Link.COMPORT.Port()));
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
    Link.ChangeAddress();
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
