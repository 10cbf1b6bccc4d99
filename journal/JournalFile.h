// "Вести журнал в файле…": the event journal kept in a file the operator chose, as the journal's
// CSV. At the start the file gets every event the journal keeps, then, a few times a second, what
// it gained. The window thread only makes the rows; a thread of the file's own writes them and
// syncs them to the disk (fdatasync), so a slow or vanished medium never holds the window up, and
// a SIGKILL or a power cut loses at most the last second. A write that fails ends the file, said
// once; the journal goes on in memory.
#pragma once

#include "EventLog.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace korvan {

class JournalFile : public QObject {
    Q_OBJECT
  public:
    static constexpr int kTakeMs = 250; // plus the sync, well within a second

    explicit JournalFile(const EventLog& log, QObject* parent = nullptr);
    ~JournalFile() override; // stops as Stop() does

    // Replaces the file at `path` with the journal so far and goes on writing to it. Empty on
    // success, else the message to show.
    std::string Start(const QString& path);
    // Writes what the journal gained, waits for it to reach the disk and closes the file.
    void Stop();
    bool Active() const { return writer_.joinable(); }
    QString Path() const { return path_; }

    // Hands what the journal gained to the writer, and says a failure of the writer; the timer
    // does this.
    void Take();

  signals:
    void Failed(const QString& message); // once per file; the file is closed by then

  private:
    void Write(int fd); // the writer thread
    void Join();
    void Report(); // the writer's failure, if any

    const EventLog& log_;
    QTimer timer_;
    QString path_;
    std::uint64_t taken_ = 0; // the next event to hand over

    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string pending_; // rows made, not yet written
    bool stopping_ = false;
    std::string error_; // set by the writer as it gives up
};

} // namespace korvan
