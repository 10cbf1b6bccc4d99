// Connections to network ports: a TCP connect within a time limit that says why it failed in the
// operator's words, TCP keepalive so that a peer gone without a word is noticed within 10 s, and
// connections made ahead on a thread of their own, so that the window thread never waits for a
// host that does not answer: the connection is parked under the port's name and the port's open
// takes it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace korvan::posix {

inline constexpr auto kConnectLimit = std::chrono::seconds(3);

// Why a connection failed, as the window says it.
inline constexpr char kHostNotFound[] = "Узел не найден";
inline constexpr char kConnectionRefused[] = "Соединение отклонено";
inline constexpr char kHostSilent[] = "Узел не отвечает";

// A connected, non-blocking socket with keepalive set, or -1 with `cause` set. Blocks for the
// name's resolution and at most `limit` for the connect.
int ConnectTcp(const std::string& host, unsigned port, std::chrono::milliseconds limit,
               std::string& cause);

// A connection made ahead for the port of this name; the next open of the name takes it.
void ParkConnection(const std::string& name, int fd);
// The parked connection of the name, -1 when there is none.
int TakeParkedConnection(const std::string& name);

// One connect on a thread of its own. Fd() becomes readable when it has ended; the thread keeps
// what it needs alive, so the attempt may be dropped at any time (its socket is then closed).
class ConnectAttempt {
  public:
    // `name` is a network port's name (netport/Endpoint.h); an unparseable name fails at once.
    explicit ConnectAttempt(const std::string& name);
    ~ConnectAttempt();
    ConnectAttempt(const ConnectAttempt&) = delete;
    ConnectAttempt& operator=(const ConnectAttempt&) = delete;

    int Fd() const;
    bool Done() const;
    // After Done: true when connected; the connection is then parked under the name.
    bool ParkIfConnected();
    std::string Cause() const;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace korvan::posix
