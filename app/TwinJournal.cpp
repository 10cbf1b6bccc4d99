// TWIN: the event journal's view. The journal itself hears the engine next to the traffic record,
// in the link.
#include "JournalWindow.h"
#include "MessageBoxes.h"
#include "monitor_code_3.h"

using namespace korvan;

void TWIN::MakeJournalView() {
    if (journalView_) return;
    journalView_ = new JournalWindow(Link.Journal.Log(), this);
    connect(journalView_, &JournalWindow::SaveFailed, this,
            [] { StationMessageBox(MessageKind::Error, "Не удалось сохранить журнал событий."); });
}

void TWIN::OpenJournalView() {
    MakeJournalView();
    journalView_->show();
    journalView_->raise();
    journalView_->activateWindow();
}
