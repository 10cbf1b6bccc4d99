// TWIN: the open port failing while polling, and its coming back. The failed port is closed at
// once, so that its descriptor and lock files do not keep the device (a USB adapter plugged in
// again would otherwise come back under another name) nor other programs off it; the failure is
// shown once; and when a device of the same name, or of the same USB serial number under another
// name, is listed again the port is opened and polling resumes, which the link indicator's
// tooltip tells. The error box's "restart the program" thus
// only holds when the device does not come back.
#include "PortFailure.h"
#include "PortList.h"
#include "PosixWin32.h"
#include "monitor_code_3.h"

#include <QSignalBlocker>
#include <QTime>

#include <algorithm>

using namespace korvan;

namespace {

QString PortName(const std::string& port) {
    return QString::fromUtf8(port.data(), static_cast<qsizetype>(port.size()));
}

} // namespace

void TWIN::OpenPort() {
    COMPORT.Open();
    // Read now: once the adapter is pulled out its folder in /sys is gone.
    openSerial_ = posix::UsbSerialNumber(COMPORT.Port());
}

void TWIN::PortFailed(const std::string& cause) {
    if (!lostPort_.empty()) return; // this failure is being dealt with
    if (COMPORT.IsOpen()) {
        lostPort_ = COMPORT.Port();
        lostSerial_ = openSerial_;
        Widgets.ctrl.ONLINE->setToolTip(
            QStringLiteral("Порт %1 потерян (%2). Он будет открыт снова, как только появится.")
                .arg(PortName(lostPort_), QString::fromStdString(cause)));
    }
    // From the event loop: a failed read runs inside the port's receive hand-off, and closing
    // the port joins the event thread that waits for that hand-off to end.
    QMetaObject::invokeMethod(
        this,
        [this, cause] {
            try {
                COMPORT.Close();
            } catch (...) {
                // The lines could not be dropped on a device that is gone; it is closed below.
            }
            ReportPortFailure(cause);
            controlsCurrent_ = false; // the operator had the window while the box was open
        },
        Qt::QueuedConnection);
}

void TWIN::ReopenLostPortIfListed(const std::vector<std::string>& ports) {
    if (lostPort_.empty() || COMPORT.IsOpen()) return;
    auto back = std::find(ports.begin(), ports.end(), lostPort_);
    if (back == ports.end() && !lostSerial_.empty()) {
        back = std::find_if(ports.begin(), ports.end(), [this](const std::string& port) {
            return posix::UsbSerialNumber(port) == lostSerial_;
        });
    }
    if (back == ports.end()) return;
    try {
        COMPORT.SetPort(*back);
        OpenPort();
    } catch (...) {
        return; // not ready yet, or taken meanwhile: the next change of the list tries again
    }
    if (*back != lostPort_) { // the adapter under a new name: select it, the old one goes
        TDropList* com = Widgets.ctrl.COM;
        {
            const QSignalBlocker quiet(com);
            com->setCurrentIndex(com->findData(QByteArray::fromStdString(*back)));
        }
        SetPortItems(com, ports, true);
    }
    LostPortReopened();
}

void TWIN::LostPortReopened() {
    Widgets.ctrl.ONLINE->setToolTip(
        QStringLiteral("Порт %1 снова открыт в %2 после отключения; опрос возобновлён.")
            .arg(PortName(COMPORT.Port()),
                 QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
    Journal.PortOpened(PortName(COMPORT.Port()));
    lostPort_.clear();
    lostSerial_.clear();
    SEND_TIM.start();
}

void TWIN::ForgetLostPort() {
    if (lostPort_.empty()) return;
    lostPort_.clear();
    lostSerial_.clear();
    Widgets.ctrl.ONLINE->setToolTip(QString());
}
