#include "monitor_code_3.h"

#include "CompareWindow.h"
#include "JournalWindow.h"
#include "StationLook.h"
#include "TrafficWindow.h"
#include "WindowDescription.h"

#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>

using namespace korvan;

TWIN::TWIN(QWidget* parent)
    : QScrollArea(parent), client_(new QWidget), BACKGROUND(new TBackground(viewport())),
      view_(Widgets) {
    setObjectName(QStringLiteral("WIN"));
    setWindowTitle(QStringLiteral("KORVAN PRO 3.01"));
    setFont(StationFont());
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    BACKGROUND->setObjectName(QStringLiteral("BACKGROUND"));
    BACKGROUND->SetPicture(LoadBackgroundPicture());
    BACKGROUND->lower();

    client_->setObjectName(QStringLiteral("Client"));
    Widgets = BuildWindow(client_);
    setWidget(client_);
    // The gaps between the panels show the background.
    client_->setAutoFillBackground(false);

    connect(Widgets.ctrl.MIN_CTRL, &TFoldLabel::Click, this,
            [this] { MIN_CTRLClick(Widgets.ctrl.MIN_CTRL); });
    connect(Widgets.ctrl.CTRL, &TPanel::Click, this, [this] { CTRLClick(Widgets.ctrl.CTRL); });
    for (UnitWidgets& unit : Widgets.unit) {
        connect(unit.MIN, &TFoldLabel::Click, this, [this, fold = unit.MIN] { MIN_kClick(fold); });
        connect(unit.DEV, &TPanel::Click, this, [this, panel = unit.DEV] { DEV_kClick(panel); });
    }

    resize(kDesignWidth, kDesignHeight);
    LayoutPanels();

    ConnectHandlers();
    ConnectTrafficView();
    ConnectExtrasMenu();
    view_.WatchChanges(this, [this] { controlsCurrent_ = false; });
    Link.StartPolling(); // polls from the window's creation on; only a port failure stops it
    FormCreate();
}

// The port closes before the widgets go, so no receive event reaches a half-destroyed window;
// the traffic view and the comparison go before the record and the engine they look at.
TWIN::~TWIN() {
    FormClose();
    delete compareView_;
    delete trafficView_;
    delete journalView_;
}

void TWIN::PullControls() {
    view_.Pull(Controls);
    controlsCurrent_ = true;
}

void TWIN::PushControls() {
    view_.Push(Controls);
    // A value a widget cannot take (a list index out of range) leaves it showing something else:
    // the next reader looks again.
    controlsCurrent_ = false;
}

void TWIN::ShowAtStart() {
    resize(kDesignWidth, kDesignHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    showMaximized();
}

layout::PanelWidths TWIN::PanelWidths() const {
    layout::PanelWidths widths{};
    for (int i = 0; i < layout::kPanelCount; ++i)
        widths[i] = Widgets.Panel(i)->width();
    return widths;
}

void TWIN::ApplyWidths(const layout::PanelWidths& widths) {
    for (int i = 0; i < layout::kPanelCount; ++i)
        Widgets.Panel(i)->resize(widths[i], layout::kPanelHeight);
}

void TWIN::LayoutPanels() {
    QScrollBar* bar = horizontalScrollBar();
    const int remembered = bar->value();

    const layout::PanelWidths widths = PanelWidths();
    const layout::PanelLefts lefts = layout::LeftEdges(widths);
    for (int i = 0; i < layout::kPanelCount; ++i)
        Widgets.Panel(i)->setGeometry(lefts[i], layout::kPanelTop, widths[i], layout::kPanelHeight);
    client_->resize(layout::PanelsSpan(widths), layout::kPanelTop + layout::kPanelHeight);
    BACKGROUND->setGeometry(viewport()->rect());

    bar->setValue(layout::KeptScrollPosition(remembered, bar->maximum()));
}

void TWIN::FitPanelsToUnits(int linkCredit, int unitCount) {
    layout::PanelWidths widths = PanelWidths();
    if (!layout::FitWidthsToUnits(widths, linkCredit, unitCount)) return;
    ApplyWidths(widths);
    LayoutPanels();
}

void TWIN::FoldPanel(int panel) {
    layout::PanelWidths widths = PanelWidths();
    layout::Fold(widths, panel);
    ApplyWidths(widths);
    LayoutPanels();
}

void TWIN::UnfoldPanel(int panel) {
    layout::PanelWidths widths = PanelWidths();
    if (!layout::Unfold(widths, panel)) return;
    ApplyWidths(widths);
    LayoutPanels();
}

void TWIN::MIN_CTRLClick(QObject*) {
    FoldPanel(0);
}

void TWIN::MIN_kClick(QObject* Sender) {
    for (int k = 0; k < kUnitPanels; ++k)
        if (Widgets.unit[k].MIN == Sender) FoldPanel(layout::UnitPanel(k));
}

void TWIN::CTRLClick(QObject*) {
    UnfoldPanel(0);
}

void TWIN::DEV_kClick(QObject* Sender) {
    for (int k = 0; k < kUnitPanels; ++k)
        if (Widgets.unit[k].DEV == Sender) UnfoldPanel(layout::UnitPanel(k));
}

void TWIN::FormResize() {
    const int outer = frameGeometry().height();
    const int snapped = layout::SnappedOuterHeight(outer);
    if (snapped != outer) resize(width(), height() + snapped - outer);
    LayoutPanels();
}

void TWIN::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    FormResize();
}

bool TWIN::viewportEvent(QEvent* event) {
    // The scroll bars come and go with the panels' span; the picture follows the client area.
    if (event->type() == QEvent::Resize) BACKGROUND->setGeometry(viewport()->rect());
    return QScrollArea::viewportEvent(event);
}
