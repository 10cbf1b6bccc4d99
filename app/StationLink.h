// The station's serial line: the port COMPORT, the poll tick SEND_TIM, the response timer TIMEOUT,
// the poll engine that drives them and what hears each of its exchanges (the traffic record and
// the event journal). The engine reads and writes the port and runs its timers through this
// object, never through the window; the window is only its view. Every failure of the port, at
// start, on a change of port or speed, or while polling, takes one path: PortFailed.
#pragma once

#include "BCPort.h"
#include "EventJournal.h"
#include "NetPortRetry.h"
#include "PollEngine.h"
#include "TrafficLog.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <string>
#include <vector>

namespace korvan {

// What the link shows besides what the engine shows.
class LinkView : public PollView {
  public:
    // The slave address the operator last finished typing.
    virtual std::string SendAddressText() const = 0;
    // The port error box with its cause line. One at a time: while it is open a further failure
    // only sets its cause line.
    virtual void ShowPortError(const std::string& cause) = 0;
    // The port is open again: an open error box is no longer true and closes.
    virtual void ClosePortError() = 0;
    // The link indicator's note on a lost or reopened port; empty clears it.
    virtual void ShowPortNote(const QString& note) = 0;
    // A lost adapter came back under another name: the port list selects that name.
    virtual void PortRenamed(const std::string& port, const std::vector<std::string>& ports) = 0;
};

class StationLink : public QObject, private PollLine {
  public:
    explicit StationLink(LinkView& view);
    ~StationLink() override;

    // Members are destroyed bottom up: the engine before those it reports to, the timers before
    // the port they drive.
    TBComPort COMPORT;
    QTimer SEND_TIM; // poll tick
    QTimer TIMEOUT;  // closes the exchange one interval after the send
    // Every closed exchange, whether or not anyone looks.
    TrafficLog Traffic;
    // What happened to the units during this run.
    EventJournal Journal;
    // The engine's one observer, handing each exchange to the record and then the journal.
    ExchangeFanOut ExchangeObservers;
    PollEngine Engine;

    void StartPolling() { SEND_TIM.start(); }
    // The port chosen at start; `noPortsCause`, when not empty, names the failure instead of the
    // component (a machine without serial ports only tries an empty name).
    void OpenAtStart(const std::string& port, const std::string& noPortsCause);
    // The operator chose another port: a lost one is no longer waited for, and since it may lead
    // to another unit the engine starts afresh. Every port that opens polls.
    void ChangePort(const std::string& port);
    // The operator chose item `index` ("1200" .. "57600") of the speed list, shown as `text`.
    void ChangeSpeed(int index, const QString& text);
    // The serial devices now present: a lost port that is back is opened and polling resumes.
    void PortsListed(const std::vector<std::string>& ports);
    // The operator finished a new slave address: nothing chosen for the old unit reaches the new.
    void ChangeAddress();
    void Close(); // no exception leaves it

  private:
    friend class PortLoan; // the port lent to a bus scan (PortLoan.h)

    // What the engine reaches of its line.
    std::string SendAddressText() const override;
    void PortWrite(const std::uint8_t* data, int count) override;
    int PortRead(std::uint8_t* data, int count) override;
    void DiscardInput() override;
    void StartResponseTimer() override;
    void StopResponseTimer() override;
    bool ResponseTimerRunning() const override;
    void PortFailed(std::exception_ptr error) override;

    void OpenPort(); // COMPORT.Open, noting the USB serial number of the device
    // The one failure path: polling stops, the journal and the window are told, and the box is
    // shown. An open port is closed and the box shown from the event loop, since a failed read
    // runs inside the port's receive hand-off, which closing the port waits for; the port is
    // then waited for in the device list.
    void PortFailed(const std::string& cause);
    void LostPortReopened();
    void ForgetLostPort();
    // A port that failed or would not open is tried again, every kRetryMs and whenever the
    // device list or a node's permissions change, until it opens.
    void AwaitPort(const std::string& port);
    bool TryReopen(const std::string& port);
    static constexpr int kRetryMs = 2000;
    QTimer retry_;

    LinkView& view_;
    std::string lostPort_;   // the port whose device failed, until it opens again
    std::string openSerial_; // USB serial number of the open port's device, if any
    std::string lostSerial_; // the same of the lost port's
    // A lost network port is not listed as a device: it is tried again every 2 s instead.
    NetPortRetry netRetry_{[this] { return lostPort_; },
                           [this](const std::string& port) { PortsListed({port}); }};
};

} // namespace korvan
