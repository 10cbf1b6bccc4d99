// TWIN: the window's making, its handlers wired to the widgets, and its end. The other parts of
// TWIN each live in a file of their own: TwinView.cpp (the controls and what the link shows),
// TwinPanels.cpp (the panels' layout), TwinLink.cpp (the link settings), TwinCommands.cpp,
// TwinTraffic.cpp, TwinJournal.cpp, TwinRecords.cpp and ExtrasMenu.cpp. This file calls into
// them; none of them calls back into it.
#include "monitor_code_3.h"

#include "Binding.h"
#include "CompareWindow.h"
#include "JournalFile.h"
#include "DiagramWindow.h"
#include "JournalWindow.h"
#include "PortList.h"
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
    CloseBusScan();
    FormClose();
    delete journalFile_; // writes its last events; it reads the link's journal, which goes next
    delete compareView_;
    delete trafficView_;
    delete diagramView_;
    delete journalView_;
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

void TWIN::ConnectHandlers() {
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
    view_.WatchChoices(this, [this](const Binding& bound, int unit, int index) {
        ControlChosen(bound, unit, index);
    });
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
