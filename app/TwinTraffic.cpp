// TWIN: the traffic record and its view, and the hover text of folded panels. Nothing here
// changes what the window or the poll cycle do; it only watches.
#include "LinkLoss.h"
#include "MessageBoxes.h"
#include "TrafficWindow.h"
#include "monitor_code_3.h"

#include <QEvent>
#include <QHelpEvent>
#include <QToolTip>

using namespace korvan;

void TWIN::ConnectTrafficView() {
    Widgets.ctrl.ONLINE->installEventFilter(this);
    if (QWidget* label = Widgets.ctrl.CTRL->findChild<QWidget*>(QStringLiteral("Labonline")))
        label->installEventFilter(this);
    for (int i = 0; i < layout::kPanelCount; ++i)
        Widgets.Panel(i)->installEventFilter(this);
}

void TWIN::OpenTrafficView() {
    if (!trafficView_) {
        trafficView_ = new TrafficWindow(Link.Traffic, this);
        connect(trafficView_, &TrafficWindow::SaveFailed, this, [] {
            StationMessageBox(MessageKind::Error, "Не удалось сохранить журнал обмена.");
        });
    }
    trafficView_->show();
    trafficView_->raise();
    trafficView_->activateWindow();
}

QString TWIN::StripToolTip(int panel) const {
    if (panel < 0 || panel >= layout::kPanelCount) return {};
    const TPanel* strip = Widgets.Panel(panel);
    if (strip->width() >= layout::UnfoldedWidth(panel)) return {};
    if (panel == 0) return Widgets.ctrl.CTRL_NAME->text();

    const int unit = panel - 1;
    const char* state = "норма";
    if (!Link.Engine.LinkUp())
        state = "нет связи";
    else if (DriveTypeCodeOf(Link.Engine.ShownImage(), unit) == 0)
        state = "не используется";
    else if (RegisterValue(Link.Engine.ShownImage(), reg::UnitBlock(unit) + reg::UnitFaults) != 0)
        state = "неисправность";
    return Widgets.unit[unit].NAME->text() + QStringLiteral(": ") + QString::fromUtf8(state);
}

bool TWIN::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == Widgets.ctrl.ONLINE || watched->objectName() == QLatin1String("Labonline"))) {
        OpenTrafficView();
        return true;
    }
    if (event->type() == QEvent::ToolTip) {
        for (int i = 0; i < layout::kPanelCount; ++i) {
            if (watched != Widgets.Panel(i)) continue;
            const QString tip = StripToolTip(i);
            if (tip.isEmpty()) break; // an unfolded panel shows its own hints as before
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, Widgets.Panel(i));
            return true;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}
