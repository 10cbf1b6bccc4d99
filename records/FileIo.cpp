#include "FileIo.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvan::records {

std::string FileErrorReason(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return "на диске не хватило места";
    case EROFS:
        return "папка доступна только для чтения";
    case EACCES:
    case EPERM:
        return "нет права записи в эту папку";
    case ENOENT:
    case ENOTDIR:
        return "такой папки нет";
    case EISDIR:
        return "под этим именем папка";
    case EIO:
    case ENODEV:
    case ENXIO:
        return "носитель недоступен";
    default:
        return "ошибка ввода-вывода (код " + std::to_string(error) + ")";
    }
}

namespace {

std::string Reason(int error) {
    return FileErrorReason(error);
}

std::string Folder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Unlinks the temporary file unless the rename took it.
struct Temporary {
    std::string path;
    int fd = -1;
    bool kept = false;
    ~Temporary() {
        if (fd >= 0) close(fd);
        if (!kept && !path.empty()) unlink(path.c_str());
    }
};

} // namespace

std::string WriteFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string failed = "Файл не записан: ";
    const std::string untouched = ". Прежний файл, если он был, не изменён.";
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
        return failed + Reason(EISDIR) + untouched;

    Temporary temp;
    temp.path = path + ".tmp-XXXXXX";
    temp.fd = mkstemp(temp.path.data());
    if (temp.fd < 0) {
        const int error = errno;
        temp.path.clear();
        return failed + Reason(error) + " (" + Folder(path) + ")" + untouched;
    }
    // A file the operator reads and copies: the usual rights, not mkstemp's private ones.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(temp.fd, 0666 & ~mask);

    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(temp.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return failed + Reason(n < 0 ? errno : ENOSPC) + untouched;
        done += static_cast<std::size_t>(n);
    }
    if (fsync(temp.fd) != 0) return failed + Reason(errno) + untouched;
    const int fd = temp.fd;
    temp.fd = -1;
    if (close(fd) != 0) return failed + Reason(errno) + untouched;
    if (rename(temp.path.c_str(), path.c_str()) != 0) return failed + Reason(errno) + untouched;
    temp.kept = true;
    return {};
}

std::string ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return "Файл не найден.";
        if (error == EACCES || error == EPERM) return "Нет права читать этот файл.";
        return "Файл не открывается (код " + std::to_string(error) + ").";
    }
    struct stat info {};
    std::string error;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        error = "Это не обычный файл.";
    else if (info.st_size > kMaxReadBytes)
        error = "Файл слишком велик для файла настроек.";
    char buffer[65536];
    while (error.empty()) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = "Файл не читается (код " + std::to_string(errno) + ").";
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<long>(bytes.size()) > kMaxReadBytes)
            error = "Файл слишком велик для файла настроек.";
    }
    close(fd);
    if (!error.empty()) bytes.clear();
    return error;
}

} // namespace korvan::records
