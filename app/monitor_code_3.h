// The station's main window WIN: the common panel CTRL and the ten unit panels DEV_0 .. DEV_9
// side by side over a stretched background picture, scrolling when they do not fit.
#pragma once

#include "BCPort.h"
#include "BackgroundImage.h"
#include "Commands.h"
#include "ControlsModel.h"
#include "ControlsView.h"
#include "EventJournal.h"
#include "PanelLayout.h"
#include "PollEngine.h"
#include "PollHost.h"
#include "TrafficLog.h"
#include "WindowWidgets.h"

#include <QPointer>
#include <QScrollArea>
#include <QTimer>

namespace korvan {
namespace records {
class CompareWindow;
struct LinkFacts;
struct StationAccess;
} // namespace records
class ExtrasMenu;
class JournalWindow;
class TrafficWindow;
} // namespace korvan

class TWIN : public QScrollArea, private korvan::PollHost, private korvan::MessageHost {
    Q_OBJECT
  public:
    static constexpr int kDesignWidth = 1386;
    static constexpr int kDesignHeight = 788;

    // Builds the window, then runs FormCreate: lists the serial ports, opens the last one and
    // starts polling.
    explicit TWIN(QWidget* parent = nullptr);
    ~TWIN() override;

    // The plain state of every control that the logic reads and sets, and its widgets.
    korvan::WindowControls Controls;
    korvan::WindowWidgets Widgets;

    void PullControls(); // widgets -> Controls
    void PushControls(); // Controls -> widgets, without firing any handler
    // Pulls only when a widget has changed since the last pull: a poll cycle in which nobody
    // touched the window reads none of them.
    void EnsureControlsCurrent();

    // Design size centred on the screen for the restored state, then maximised.
    void ShowAtStart();

    void LayoutPanels();
    // Panel widths from the number of units on the network (low byte of register 85).
    void FitPanelsToUnits(int linkCredit, int unitCount);
    // The same with the poll engine's LinkCredit and the UnitCount of its confirmed image.
    void FitPanelsToUnits() override;

    korvan::layout::PanelWidths PanelWidths() const;
    QWidget* Client() const { return client_; }
    korvan::TBackground* Background() const { return BACKGROUND; }

    // Window event handlers, each given the control that raised the event.
    void FormResize();
    void MIN_CTRLClick(QObject* Sender);
    void MIN_kClick(QObject* Sender); // MIN_0 .. MIN_9
    void CTRLClick(QObject* Sender);
    void DEV_kClick(QObject* Sender); // DEV_0 .. DEV_9

    // The serial link and the poll cycle.
    korvan::TBComPort COMPORT;
    QTimer SEND_TIM; // poll tick
    QTimer TIMEOUT;  // closes the exchange one interval after the send
    // Every closed exchange, whether or not anyone looks; declared before the engine that
    // reports to it, so it outlives the engine.
    korvan::TrafficLog Traffic;
    // What happened to the units during this run.
    korvan::EventJournal Journal;
    // The engine's one observer, handing each exchange to the record and then the journal.
    korvan::ExchangeFanOut ExchangeObservers;
    korvan::PollEngine Engine{static_cast<korvan::PollHost&>(*this)};

    void FormCreate();
    void COMChange();
    void PCSPDChange();
    void FormClose();
    void RefreshPortList();
    void SEND_TIMTimer();
    void COMPORTRxChar(korvan::TBComPort* Sender, std::int32_t Count);
    void TIMEOUTTimer();

    // Operator commands.
    void GO_BUTClick();
    void ST_BUTClick();
    void RES_BUTClick();
    void RESTOREClick();
    void FINDClick();
    void OUTMouseUp(int unit, int output); // OUT1_kMouseUp, OUT2_kMouseUp
    void RELAYMouseUp(int relay);          // RELAY1MouseUp .. RELAY4MouseUp (relay 0..3)
    // The operator chose something in a settings control: what changed becomes a choice.
    void SettingChosen();
    // A finished, valid slave address: the exchange starts afresh with that unit.
    void SENDADRChange();

    // The traffic view "Обмен — журнал": F2 anywhere in the window (an entry of the extras menu),
    // or a double click on ONLINE or its label. Made on first use; closing it only hides it.
    void OpenTrafficView();
    korvan::TrafficWindow* TrafficView() const { return trafficView_; }
    // What a folded panel's strip says on hover: the panel's caption and its unit's state. Empty
    // for an unfolded panel.
    QString StripToolTip(int panel) const;

    // Commissioning records, from the extras menu: the settings of the network to a file, a
    // file compared with the units (and written back from there), the commissioning report.
    void SaveSettings();
    void CompareWithFile();
    void MakeReport();
    void ShowAbout(); // version, build, licence, the open port and its speed
    // The same without the file dialogs; each returns the message to show, empty on success.
    std::string SaveSettingsTo(const QString& path);
    std::string OpenComparison(const QString& path);
    std::string WriteReportTo(const QString& path, const QString& objectName,
                              const QString& engineer);
    korvan::records::CompareWindow* CompareView() const; // the open comparison, or null
    korvan::ExtrasMenu* Extras() const { return extras_; }

    // "Журнал событий": F3 anywhere in the window (an entry of the extras menu). Made on first
    // use; closing it only hides it.
    void OpenJournalView();
    korvan::JournalWindow* JournalView() const { return journalView_; }

    // The station's modal message boxes. True only for OK.
    bool ShowMessage(korvan::MessageKind kind, const std::string& text) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the poll engine reaches in the window.
    std::string SendAddressText() const override;
    void PortWrite(const std::uint8_t* data, int count) override;
    int PortRead(std::uint8_t* data, int count) override;
    void StartResponseTimer() override;
    void StopResponseTimer() override;
    bool ResponseTimerRunning() const override;
    void StopPollTimer() override;
    void ShowPortError() override;
    void ImageToControls(const korvan::RegisterImage& image) override;
    int GreyOutDisabledUnits(const korvan::RegisterImage& image) override;
    void ShowLinkLost() override;
    void SetOnlineColour(korvan::Colour colour) override;
    void ReportWriteRefused(int reg, std::uint16_t value, std::uint8_t code) override;

    // Hands the engine what differs between its wanted image and the controls as they are now.
    void TakeChoices();

    // The open port failed while polling (device gone, hang-up, I/O error): it is closed at
    // once, its locks with it, the failure is shown once, and the same name is waited for in the
    // port list; when it is back the port opens again and polling resumes.
    void OpenPort(); // COMPORT.Open, noting the USB serial number of the device
    void PortFailed(const std::string& cause);
    void ReopenLostPortIfListed(const std::vector<std::string>& ports);
    void LostPortReopened();
    void ForgetLostPort();

    // Pushes the control state when a display routine changed it.
    void PushIfChanged(const korvan::WindowControls& before);

    void ConnectHandlers();
    void ConnectTrafficView();
    void ConnectExtrasMenu();
    // Commissioning records: whether the units have been read and the link is up (else says
    // why not), and what the records reach in the station.
    bool RecordsReady();
    korvan::records::LinkFacts RecordsLinkFacts() const;
    korvan::RegisterImage WantedNow();
    korvan::records::StationAccess RecordsAccess();
    void ConnectJournal();
    void JournalPortError(); // the port's failure, as the error box tells it
    void ApplyWidths(const korvan::layout::PanelWidths& widths);
    void FoldPanel(int panel);
    void UnfoldPanel(int panel);

    QWidget* client_;                // the scrollable area that holds the panels
    korvan::TBackground* BACKGROUND; // behind the scrollable area, as large as the client area
    korvan::ControlsView view_;
    bool controlsCurrent_ = false; // Controls matches the widgets: none has changed since read
    std::string portFailureCause_; // of the last failed transfer
    std::string lostPort_;         // the port whose device failed, until it opens again
    std::string openSerial_;       // USB serial number of the open port's device, if any
    std::string lostSerial_;       // the same of the lost port's
    korvan::TrafficWindow* trafficView_ = nullptr;
    korvan::ExtrasMenu* extras_ = nullptr;
    QPointer<korvan::records::CompareWindow> compareView_;
    korvan::JournalWindow* journalView_ = nullptr;
};
