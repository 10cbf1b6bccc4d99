#include "SimulatorProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvan::e2e {

namespace {

constexpr int kReadyTimeoutMs = 10000;
constexpr int kCommandTimeoutSeconds = 5;

// A connected socket that is closed when it goes.
struct Socket {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ~Socket() {
        if (fd >= 0) close(fd);
    }
};

} // namespace

SimulatorProcess::~SimulatorProcess() {
    Stop();
}

std::string SimulatorProcess::Start(const QString& linkPath, const QStringList& options) {
    if (!dir_.isValid()) return "no temporary folder";
    control_ = dir_.filePath(QStringLiteral("control.sock"));
    QStringList arguments{QStringLiteral("--quiet"),
                          QStringLiteral("--link"),
                          linkPath,
                          QStringLiteral("--control"),
                          control_,
                          QStringLiteral("--dump"),
                          dir_.filePath("registers")};
    arguments += options;
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that dies must not leave the simulator and its link in /dev behind.
    process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(QStringLiteral(KORVAN_SIM_PATH), arguments);
    if (!process_.waitForStarted(kReadyTimeoutMs)) return "korvan-sim did not start";
    while (!process_.canReadLine()) {
        if (!process_.waitForReadyRead(kReadyTimeoutMs)) return "korvan-sim printed no ready line";
    }
    const QByteArray line = process_.readLine().trimmed();
    if (!line.startsWith("ready ")) return "korvan-sim said: " + line.toStdString();
    return {};
}

int SimulatorProcess::Stop() {
    if (process_.state() == QProcess::NotRunning) return process_.exitCode();
    process_.terminate();
    if (!process_.waitForFinished(kReadyTimeoutMs)) {
        process_.kill();
        process_.waitForFinished(kReadyTimeoutMs);
        return -1;
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

std::string SimulatorProcess::Command(const std::string& line) const {
    const std::string path = control_.toStdString();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    Socket s;
    const timeval limit{kCommandTimeoutSeconds, 0};
    setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(s.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("no control socket: " + std::string(std::strerror(errno)));
    const std::string request = line + "\n";
    if (send(s.fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        throw std::runtime_error("cannot send " + line);
    std::string answer;
    char buffer[4096];
    while (answer.empty() || answer.back() != '\n') {
        const ssize_t n = recv(s.fd, buffer, sizeof buffer, 0);
        if (n <= 0) throw std::runtime_error("no answer to " + line);
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    answer.pop_back();
    if (answer != "ok" && answer.rfind("ok ", 0) != 0)
        throw std::runtime_error(line + " answered " + answer);
    return answer.size() > 3 ? answer.substr(3) : std::string();
}

SimulatorProcess::Frames SimulatorProcess::ReceivedFrames() const {
    std::istringstream words(Command("frames"));
    Frames frames;
    words >> frames.total;
    for (std::string frame; words >> frame;)
        frames.recent.push_back(frame);
    return frames;
}

} // namespace korvan::e2e
