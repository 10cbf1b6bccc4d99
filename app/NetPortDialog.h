// The window "Сетевой порт": the address of a serial device server or Modbus TCP gateway as
// "узел:порт" and the mode. OK connects, on a thread of its own so that the station keeps
// polling meanwhile, within 3 s or says why; the connection is then kept for the port's open.
#pragma once

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;

namespace korvan {

namespace posix {
class ConnectAttempt;
}

class NetPortDialog : public QDialog {
  public:
    explicit NetPortDialog(QWidget* parent);
    ~NetPortDialog() override;

    // After the window was accepted: the network port's name, such as "tcp://192.168.1.50:4001".
    const std::string& PortName() const { return name_; }

  private:
    void Connect();
    void Connected();

    QLineEdit* address_;
    QComboBox* mode_;
    QLabel* status_;
    QPushButton* ok_;
    std::unique_ptr<posix::ConnectAttempt> attempt_;
    QSocketNotifier* notifier_ = nullptr;
    std::string name_;
};

// Asks for a network port; its name when the operator chose one and it answered.
std::optional<std::string> AskNetworkPort(QWidget* parent);

// The tooltip of the speed list for this port: a converter in plain TCP or gateway mode keeps its
// own line speed, so the list sets only the timers there.
QString SpeedListHint(const std::string& port);

} // namespace korvan
