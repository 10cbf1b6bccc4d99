// The station's main window WIN: the common panel CTRL and the ten unit panels DEV_0 .. DEV_9
// side by side over a stretched background picture, scrolling when they do not fit.
#pragma once

#include "BackgroundImage.h"
#include "ControlsModel.h"
#include "ControlsView.h"
#include "PanelLayout.h"
#include "WindowWidgets.h"

#include <QScrollArea>

#include <functional>

class TWIN : public QScrollArea {
    Q_OBJECT
  public:
    static constexpr int kDesignWidth = 1386;
    static constexpr int kDesignHeight = 788;

    explicit TWIN(QWidget* parent = nullptr);

    // The plain state of every control that the logic reads and sets, and its widgets.
    korvan::WindowControls Controls;
    korvan::WindowWidgets Widgets;

    void PullControls(); // widgets -> Controls
    void PushControls(); // Controls -> widgets, without firing any handler

    // Design size centred on the screen for the restored state, then maximised.
    void ShowAtStart();

    void LayoutPanels();
    // Panel widths from the number of units on the network (low byte of register 85).
    void FitPanelsToUnits(int linkCredit, int unitCount);
    // The same with LinkCredit and UnitCount taken from the provider; without one there is no link.
    void FitPanelsToUnits();
    struct UnitsOnLine {
        int linkCredit = 0;
        int unitCount = 0;
    };
    void SetUnitsOnLineProvider(std::function<UnitsOnLine()> provider);

    korvan::layout::PanelWidths PanelWidths() const;
    QWidget* Client() const { return client_; }
    korvan::TBackground* Background() const { return BACKGROUND; }

    // Window event handlers, each given the control that raised the event.
    void FormResize();
    void MIN_CTRLClick(QObject* Sender);
    void MIN_kClick(QObject* Sender); // MIN_0 .. MIN_9
    void CTRLClick(QObject* Sender);
    void DEV_kClick(QObject* Sender); // DEV_0 .. DEV_9

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;

  private:
    void ApplyWidths(const korvan::layout::PanelWidths& widths);
    void FoldPanel(int panel);
    void UnfoldPanel(int panel);

    QWidget* client_;                // the scrollable area that holds the panels
    korvan::TBackground* BACKGROUND; // behind the scrollable area, as large as the client area
    korvan::ControlsView view_;
    std::function<UnitsOnLine()> unitsOnLine_;
};
