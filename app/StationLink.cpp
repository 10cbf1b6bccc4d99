#include "StationLink.h"

#include "PortFailure.h"
#include "PosixWin32.h"
#include "StationMessages.h"

#include <QTime>

#include <algorithm>
#include <array>
#include <exception>

namespace korvan {

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

QString PortName(const std::string& port) {
    return QString::fromUtf8(port.data(), static_cast<qsizetype>(port.size()));
}

} // namespace

StationLink::StationLink(LinkView& view)
    : Engine(static_cast<PollLine&>(*this), view), view_(view) {
    SEND_TIM.setTimerType(Qt::PreciseTimer);
    SEND_TIM.setInterval(kStartIntervalMs);
    TIMEOUT.setTimerType(Qt::PreciseTimer);
    TIMEOUT.setInterval(kStartIntervalMs);
    connect(&SEND_TIM, &QTimer::timeout, this, [this] { Engine.SEND_TIMTimer(); });
    connect(&TIMEOUT, &QTimer::timeout, this, [this] { Engine.TIMEOUTTimer(); });

    COMPORT.SetBaudRate(br9600);
    COMPORT.SetByteSize(bs8);
    COMPORT.SetParity(paNone);
    COMPORT.SetStopBits(sb1);
    COMPORT.SetInBufSize(2048);
    COMPORT.SetOutBufSize(2048);
    COMPORT.SetPort("COM3");
    COMPORT.SetSyncMethod(smThreadSync);
    COMPORT.OnRxChar = [this](TBComPort*, std::int32_t Count) { Engine.COMPORTRxChar(Count); };

    ExchangeObservers.Add(&Traffic);
    ExchangeObservers.Add(&Journal); // after the traffic record
    Engine.SetExchangeObserver(&ExchangeObservers);
    Journal.Watch(Engine);
    Journal.StationStarted();
}

// The port closes before the engine and the timers go, so no receive event reaches them.
StationLink::~StationLink() {
    Close();
}

void StationLink::OpenAtStart(const std::string& port, const std::string& noPortsCause) {
    COMPORT.SetPort(port);
    try {
        OpenPort();
        Journal.PortOpened(PortName(COMPORT.Port()));
    } catch (...) {
        PortFailed(noPortsCause.empty() ? PortFailureCause(std::current_exception())
                                        : noPortsCause);
    }
}

void StationLink::ChangePort(const std::string& port) {
    ForgetLostPort();
    Engine.Restart(); // nothing meant for the old unit goes out
    try {
        COMPORT.Close();
        COMPORT.SetPort(port);
        OpenPort();
        Journal.PortChanged(PortName(COMPORT.Port()));
    } catch (...) {
        PortFailed(PortFailureCause(std::current_exception()));
    }
}

void StationLink::ChangeSpeed(int index, const QString& text) {
    try {
        COMPORT.Close();
        if (index >= 0 && index < static_cast<int>(kLineSpeeds.size())) {
            COMPORT.SetBaudRate(kLineSpeeds[index].rate);
            SEND_TIM.setInterval(kLineSpeeds[index].intervalMs);
            TIMEOUT.setInterval(kLineSpeeds[index].intervalMs);
            Journal.SpeedChanged(text);
        }
        OpenPort();
    } catch (...) {
        PortFailed(PortFailureCause(std::current_exception()));
        return;
    }
    // A lost device back before its list entry: polling resumes as it would from the list.
    if (!lostPort_.empty()) LostPortReopened();
}

void StationLink::Close() {
    try {
        COMPORT.Close();
    } catch (...) {
    }
}

void StationLink::OpenPort() {
    COMPORT.Open();
    // Read now: once the adapter is pulled out its folder in /sys is gone.
    openSerial_ = posix::UsbSerialNumber(COMPORT.Port());
}

// ---- the one failure path, and the port's coming back ----------------------------------------

void StationLink::PortFailed(std::exception_ptr error) {
    PortFailed(PortFailureCause(error));
}

void StationLink::PortFailed(const std::string& cause) {
    if (!lostPort_.empty()) return; // this failure is being dealt with
    SEND_TIM.stop();
    Journal.PortError(PortName(COMPORT.Port()), QString::fromUtf8(kPortErrorText));
    view_.ShowLinkLost();
    if (!COMPORT.IsOpen()) {
        view_.ShowPortError(cause);
        return;
    }
    // The failed port is closed, so that its descriptor and lock files keep neither the device
    // (a USB adapter plugged in again would otherwise come back under another name) nor other
    // programs off it; when the same device is listed again it is opened and polling resumes. The
    // box's "restart the program" thus only holds when the device does not come back.
    lostPort_ = COMPORT.Port();
    lostSerial_ = openSerial_;
    netRetry_.Watch();
    view_.ShowPortNote(
        QStringLiteral("Порт %1 потерян (%2). Он будет открыт снова, как только появится.")
            .arg(PortName(lostPort_), QString::fromStdString(cause)));
    QMetaObject::invokeMethod(
        this,
        [this, cause] {
            Close(); // the lines cannot be dropped on a device that is gone; it closes anyway
            view_.ShowPortError(cause);
        },
        Qt::QueuedConnection);
}

void StationLink::PortsListed(const std::vector<std::string>& ports) {
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
    if (*back != lostPort_) view_.PortRenamed(*back, ports);
    LostPortReopened();
}

void StationLink::LostPortReopened() {
    view_.ShowPortNote(
        QStringLiteral("Порт %1 снова открыт в %2 после отключения; опрос возобновлён.")
            .arg(PortName(COMPORT.Port()),
                 QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
    Journal.PortOpened(PortName(COMPORT.Port()));
    lostPort_.clear();
    lostSerial_.clear();
    SEND_TIM.start();
}

void StationLink::ForgetLostPort() {
    if (lostPort_.empty()) return;
    lostPort_.clear();
    lostSerial_.clear();
    view_.ShowPortNote(QString());
}

// ---- what the engine reaches ------------------------------------------------------------------

std::string StationLink::SendAddressText() const {
    return view_.SendAddressText();
}

void StationLink::PortWrite(const std::uint8_t* data, int count) {
    COMPORT.Write(data, count);
}

int StationLink::PortRead(std::uint8_t* data, int count) {
    return COMPORT.Read(data, count);
}

void StationLink::StartResponseTimer() {
    if (!TIMEOUT.isActive()) TIMEOUT.start();
}

void StationLink::StopResponseTimer() {
    TIMEOUT.stop();
}

bool StationLink::ResponseTimerRunning() const {
    return TIMEOUT.isActive();
}

} // namespace korvan
