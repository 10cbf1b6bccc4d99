// The station's main window WIN: the common panel CTRL and the ten unit panels DEV_0 .. DEV_9
// side by side over a stretched background picture, scrolling when they do not fit.
#pragma once

#include "BackgroundImage.h"
#include "ControlsModel.h"
#include "ControlsView.h"
#include "PanelLayout.h"
#include "StationLink.h"
#include "StationMessages.h"
#include "WindowWidgets.h"

#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>

namespace korvan {
namespace records {
class CompareWindow;
struct LinkFacts;
struct StationAccess;
} // namespace records
class DiagramWindow;
class ExtrasMenu;
class JournalFile;
class JournalWindow;
class TrafficWindow;
} // namespace korvan

class TWIN : public QScrollArea, private korvan::LinkView, private korvan::MessageHost {
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
    void FitPanelsToUnits(int linkCredit, int unitCount) override;

    korvan::layout::PanelWidths PanelWidths() const;
    QWidget* Client() const { return client_; }
    korvan::TBackground* Background() const { return BACKGROUND; }

    // Window event handlers, each given the control that raised the event.
    void FormResize();
    void MIN_CTRLClick(QObject* Sender);
    void MIN_kClick(QObject* Sender); // MIN_0 .. MIN_9
    void CTRLClick(QObject* Sender);
    void DEV_kClick(QObject* Sender); // DEV_0 .. DEV_9

    // The serial link: the port COMPORT, the timers SEND_TIM and TIMEOUT, the poll engine, the
    // traffic record and the event journal. The window is its view.
    korvan::StationLink Link{static_cast<korvan::LinkView&>(*this)};

    void FormCreate();
    void COMChange();
    void PCSPDChange();
    void FormClose();
    void RefreshPortList();
    void ChooseNetworkPort();
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
    // The operator chose something in the settings control of `bound` (unit, element): that one
    // control's value becomes the choice.
    void ControlChosen(const korvan::Binding& bound, int unit, int index);
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
                              const QString& engineer, bool allEvents = false);
    korvan::records::CompareWindow* CompareView() const; // the open comparison, or null
    korvan::ExtrasMenu* Extras() const { return extras_; }

    // "Журнал событий": F3 anywhere in the window (an entry of the extras menu). Made on first
    // use; closing it only hides it.
    void OpenJournalView();
    korvan::JournalWindow* JournalView() const { return journalView_; }
    // "Вести журнал в файле…" (Ctrl+J): asks for a file and keeps the journal in it from then on,
    // or stops doing so. StartJournalFile is the same without the dialog; it returns the message
    // to show, empty on success.
    void ToggleJournalFile();
    std::string StartJournalFile(const QString& path);
    korvan::JournalFile* JournalFileWriter() const { return journalFile_; }

    // "Поиск блоков на линии": F4 anywhere in the window (an entry of the extras menu). The
    // window borrows the port while it is open; ConnectToFound is its "Подключиться".
    void OpenBusScan();
    void ConnectToFound(int address, int baud);
    void CloseBusScan(); // gives the port back while the link is still there
    // "Диаграмма состояний": F5 anywhere in the window (an entry of the extras menu). Made on
    // first use; closing it only hides it. A click on an edge selects its event in the journal.
    void OpenStateDiagram();
    korvan::DiagramWindow* StateDiagram() const { return diagramView_; }

    // The station's modal message boxes. True only for OK.
    bool ShowMessage(korvan::MessageKind kind, const std::string& text) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the link and its poll engine show in the window.
    std::string SendAddressText() const override;
    void ShowPortError(const std::string& cause) override;
    void ClosePortError() override;
    void ShowPortNote(const QString& note) override;
    void PortRenamed(const std::string& port, const std::vector<std::string>& ports) override;
    void ImageToControls(const korvan::RegisterImage& image) override;
    int GreyOutDisabledUnits(const korvan::RegisterImage& image) override;
    void ShowLinkLost() override;
    void SetOnlineColour(korvan::Colour colour) override;
    void ReportWriteRefused(int reg, std::uint16_t value, std::uint8_t code) override;
    void ReportWriteUnanswered(int reg, std::uint16_t value) override;
    void ReportChoicesDropped(const korvan::DroppedChoices& dropped) override;
    // "Задержка вкл. 1 = 61": the settings the value of `reg` changes against the unit's.
    QString SettingsOfWrite(int reg, std::uint16_t value) const;
    void SetPuskShown(korvan::Colour colour);

    // Pushes the control state when a display routine changed it.
    void PushIfChanged(const korvan::WindowControls& before);

    void ConnectHandlers();
    void ConnectTrafficView();
    void ConnectExtrasMenu();
    // Commissioning records: whether the units have been read and the link is up (else says
    // why not), and what the records reach in the station.
    bool RecordsReady();
    korvan::records::LinkFacts RecordsLinkFacts() const;
    korvan::records::StationAccess RecordsAccess();
    void ApplyWidths(const korvan::layout::PanelWidths& widths);
    void FoldPanel(int panel);
    void UnfoldPanel(int panel);

    QWidget* client_;                // the scrollable area that holds the panels
    korvan::TBackground* BACKGROUND; // behind the scrollable area, as large as the client area
    korvan::ControlsView view_;
    bool controlsCurrent_ = false; // Controls matches the widgets: none has changed since read
    korvan::TrafficWindow* trafficView_ = nullptr;
    korvan::ExtrasMenu* extras_ = nullptr;
    QPointer<korvan::records::CompareWindow> compareView_;
    korvan::JournalWindow* journalView_ = nullptr;
    QPointer<QMessageBox> portBox_;              // the one port error box, while it is open
    korvan::JournalFile* journalFile_ = nullptr; // made on first use, deleted before the link
    QAction* journalFileAction_ = nullptr;
    korvan::DiagramWindow* diagramView_ = nullptr;
    void MakeJournalView();
};
