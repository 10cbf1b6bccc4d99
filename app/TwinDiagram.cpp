// TWIN: the state diagram of the run, over the journal the link keeps. A click on an edge
// selects its event in the journal's view, which F3 then opens at it.
#include "DiagramWindow.h"
#include "JournalWindow.h"
#include "MessageBoxes.h"
#include "monitor_code_3.h"

using namespace korvan;

void TWIN::OpenStateDiagram() {
    if (!diagramView_) {
        diagramView_ = new DiagramWindow(Link.Journal.Log(), this);
        connect(diagramView_, &DiagramWindow::SaveFailed, this, [] {
            StationMessageBox(MessageKind::Error, "Не удалось сохранить диаграмму состояний.");
        });
        connect(diagramView_, &DiagramWindow::EdgeClicked, this, [this](std::uint64_t sequence) {
            MakeJournalView();
            journalView_->SelectSequence(sequence);
        });
    }
    diagramView_->SetPollPeriod(Link.SEND_TIM.interval());
    diagramView_->show();
    diagramView_->raise();
    diagramView_->activateWindow();
}
