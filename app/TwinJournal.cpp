// TWIN: the event journal's view, and the journal kept in a file of the operator's choosing. The
// journal itself hears the engine next to the traffic record, in the link.
#include "JournalFile.h"
#include "JournalWindow.h"
#include "MessageBoxes.h"
#include "monitor_code_3.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFileDialog>

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

void TWIN::ToggleJournalFile() {
    if (journalFile_ != nullptr && journalFile_->Active()) {
        journalFile_->Stop();
        journalFileAction_->setChecked(false);
        return;
    }
    journalFileAction_->setChecked(false);
    const QString name =
        QStringLiteral("журнал-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Вести журнал в файле"),
                                                      QDir(DialogFolder()).filePath(name),
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    RememberFolder(path);
    const std::string error = StartJournalFile(path);
    if (!error.empty()) StationMessageBox(MessageKind::Error, error);
}

std::string TWIN::StartJournalFile(const QString& path) {
    if (journalFile_ == nullptr) {
        journalFile_ = new JournalFile(Link.Journal.Log(), this);
        // Said once, without stopping the window; the journal goes on in memory.
        connect(journalFile_, &JournalFile::Failed, this, [this](const QString& message) {
            journalFileAction_->setChecked(false);
            StationNotice(message.toStdString());
        });
    }
    const std::string error = journalFile_->Start(path);
    journalFileAction_->setChecked(error.empty());
    return error;
}
