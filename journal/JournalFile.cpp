#include "JournalFile.h"

#include "FileIo.h"
#include "JournalCsv.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace korvan {

namespace {

// Every byte, or the errno of the failure.
int WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

JournalFile::JournalFile(const EventLog& log, QObject* parent) : QObject(parent), log_(log) {
    timer_.setInterval(kTakeMs);
    connect(&timer_, &QTimer::timeout, this, &JournalFile::Take);
}

JournalFile::~JournalFile() {
    Stop();
}

std::string JournalFile::Start(const QString& path) {
    Stop();
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return "Журнал не записывается в файл: " + records::FileErrorReason(errno) + ".";
    path_ = path;
    pending_ = JournalCsvTitleRow();
    stopping_ = false;
    error_.clear();
    taken_ = log_.FirstKept();
    writer_ = std::thread(&JournalFile::Write, this, fd);
    Take();
    timer_.start();
    return {};
}

void JournalFile::Take() {
    if (!Active()) return;
    std::string rows;
    for (std::uint64_t s = std::max(taken_, log_.FirstKept()); s < log_.End(); ++s)
        rows += JournalCsvRow(log_.At(s));
    taken_ = log_.End();
    std::string error;
    {
        const std::lock_guard lock(mutex_);
        error = error_;
        if (error.empty() && !rows.empty()) pending_ += rows;
    }
    if (!rows.empty()) wake_.notify_one();
    if (error.empty()) return;
    Join();
    Report();
}

void JournalFile::Stop() {
    if (!Active()) return;
    Take();
    if (!Active()) return; // it failed, and said so
    Join();
    Report();
}

void JournalFile::Report() {
    std::string error;
    {
        const std::lock_guard lock(mutex_);
        error = error_;
    }
    if (error.empty()) return;
    emit Failed(QStringLiteral("Журнал больше не записывается в файл %1: %2. События остаются "
                               "в журнале программы (F3).")
                    .arg(path_, QString::fromStdString(error)));
}

void JournalFile::Join() {
    timer_.stop();
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void JournalFile::Write(int fd) {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) break; // stopping, and all is written
        const std::string bytes = std::move(pending_);
        pending_.clear();
        lock.unlock();
        int error = WriteAll(fd, bytes);
        if (error == 0 && fdatasync(fd) != 0) error = errno;
        lock.lock();
        if (error != 0) {
            error_ = records::FileErrorReason(error);
            break;
        }
    }
    lock.unlock();
    close(fd);
}

} // namespace korvan
