// TWIN: the event journal and its view. The journal hears the engine next to the traffic record;
// the window only tells it of the station's start, stop and port.
#include "JournalWindow.h"
#include "MessageBoxes.h"
#include "monitor_code_3.h"

using namespace korvan;

void TWIN::ConnectJournal() {
    Journal.Watch(Engine);
    ExchangeObservers.Add(&Journal); // after the traffic record
    Journal.StationStarted();
}

void TWIN::OpenJournalView() {
    if (!journalView_) {
        journalView_ = new JournalWindow(Journal.Log(), this);
        connect(journalView_, &JournalWindow::SaveFailed, this, [] {
            StationMessageBox(MessageKind::Error, "Не удалось сохранить журнал событий.");
        });
    }
    journalView_->show();
    journalView_->raise();
    journalView_->activateWindow();
}

void TWIN::JournalPortError() {
    Journal.PortError(QString::fromStdString(COMPORT.Port()), QString::fromUtf8(kPortErrorText));
}
