#include "StationLink.h"

#include "Endpoint.h"
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
    // A write waits no longer than its characters take at the line's speed, plus a margin.
    COMPORT.Timeouts().SetWriteTotalMultiplier(COMPORT.CharacterTimeMs());
    COMPORT.SetInBufSize(2048);
    COMPORT.SetOutBufSize(2048);
    COMPORT.SetPort("COM3");
    COMPORT.SetSyncMethod(smThreadSync);
    COMPORT.OnRxChar = [this](TBComPort*, std::int32_t Count) { Engine.COMPORTRxChar(Count); };
    // A network port whose connection has ended says so between requests; a read of nothing
    // then fails with its cause, so the failure is not left to the next poll's write.
    COMPORT.OnError = [this](TBComPort*, TComErrors errors) {
        if (!errors.Contains(ceIO)) return;
        try {
            std::uint8_t none = 0;
            COMPORT.Read(&none, 0);
        } catch (...) {
            PortFailed(std::current_exception());
        }
    };

    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, [this] {
        if (!lostPort_.empty() && !COMPORT.IsOpen() && TryReopen(lostPort_)) LostPortReopened();
    });

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
        return;
    }
    SEND_TIM.start();
}

void StationLink::ChangePort(const std::string& port) {
    ForgetLostPort();
    Engine.EndSession(DropCause::PortChanged); // nothing meant for the old unit goes out
    try {
        COMPORT.Close();
        COMPORT.SetPort(port);
        OpenPort();
        Journal.PortChanged(PortName(COMPORT.Port()));
    } catch (...) {
        PortFailed(PortFailureCause(std::current_exception()));
        return;
    }
    view_.ClosePortError();
    SEND_TIM.start(); // also after an earlier failure: a port that opens polls
}

void StationLink::ChangeSpeed(int index, const QString& text) {
    // A network port keeps its connection: the converter takes the speed over it, where a
    // reconnect would hold the window for the connect; a lost one takes it when it reconnects.
    const bool network = netport::IsEndpointName(COMPORT.Port());
    try {
        if (!network) COMPORT.Close();
        if (index >= 0 && index < static_cast<int>(kLineSpeeds.size())) {
            COMPORT.SetBaudRate(kLineSpeeds[index].rate);
            COMPORT.Timeouts().SetWriteTotalMultiplier(COMPORT.CharacterTimeMs());
            SEND_TIM.setInterval(kLineSpeeds[index].intervalMs);
            TIMEOUT.setInterval(kLineSpeeds[index].intervalMs);
            Journal.SpeedChanged(text);
        }
        if (!network) OpenPort();
    } catch (...) {
        PortFailed(PortFailureCause(std::current_exception()));
        return;
    }
    if (network && !lostPort_.empty()) return; // its retry reopens it
    // A lost device back before its list entry: polling resumes as it would from the list.
    if (!lostPort_.empty()) {
        LostPortReopened();
        return;
    }
    view_.ClosePortError();
    SEND_TIM.start();
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
    SEND_TIM.stop();
    // Every failure is recorded; one box says the newest cause.
    Journal.PortError(PortName(COMPORT.Port()), QString::fromUtf8(kPortErrorText));
    // What was chosen on this port belongs to it: a device that comes back under its name may
    // lead to another unit.
    Engine.EndSession(DropCause::PortLost);
    const bool awaited = !lostPort_.empty();
    if (!COMPORT.IsOpen()) {
        if (!awaited) AwaitPort(COMPORT.Port());
        view_.ShowPortError(cause);
        return;
    }
    // The failed port is closed, so that its descriptor and lock files keep neither the device
    // (a USB adapter plugged in again would otherwise come back under another name) nor other
    // programs off it; it is then tried again until it opens and polling resumes. The box's
    // "restart the program" thus only holds when the device does not come back.
    AwaitPort(COMPORT.Port());
    lostSerial_ = openSerial_;
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

void StationLink::AwaitPort(const std::string& port) {
    lostPort_ = port;
    lostSerial_.clear();
    // A network port is connected to away from the window thread: a host that does not answer
    // would hold the window for the connect's time at every try.
    if (port.find("://") != std::string::npos) {
        netRetry_.Watch();
        return;
    }
    // A machine without serial ports tries an empty name: there is nothing to wait for.
    if (!port.empty()) retry_.start();
}

bool StationLink::TryReopen(const std::string& port) {
    try {
        COMPORT.SetPort(port);
        OpenPort();
        return true;
    } catch (...) {
        return false; // not ready yet, or taken meanwhile: tried again later
    }
}

void StationLink::PortsListed(const std::vector<std::string>& ports) {
    if (lostPort_.empty() || COMPORT.IsOpen()) return;
    auto back = std::find(ports.begin(), ports.end(), lostPort_);
    if (back == ports.end() && !lostSerial_.empty()) {
        back = std::find_if(ports.begin(), ports.end(), [this](const std::string& port) {
            return posix::UsbSerialNumber(port) == lostSerial_;
        });
    }
    if (back == ports.end() || !TryReopen(*back)) return;
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
    retry_.stop();
    view_.ClosePortError();
    // Whatever was chosen while the port was away was never sent, and the device may lead to
    // another unit: the new session begins with a read.
    Engine.EndSession(DropCause::PortLost);
    SEND_TIM.start();
}

void StationLink::ForgetLostPort() {
    if (lostPort_.empty()) return;
    lostPort_.clear();
    lostSerial_.clear();
    retry_.stop();
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

void StationLink::DiscardInput() {
    if (!COMPORT.IsOpen()) return; // the write that follows says what is wrong
    std::array<std::uint8_t, 256> scrap;
    // Bounded: a line that babbles faster than it is read is read once over, not forever.
    for (int waiting = COMPORT.InputCount(), round = 0; waiting > 0 && round < 64; ++round) {
        const int got = COMPORT.Read(scrap.data(), std::min<int>(waiting, scrap.size()));
        if (got <= 0) break;
        waiting -= got;
    }
}

void StationLink::ChangeAddress() {
    Engine.EndSession(DropCause::AddressChanged);
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
