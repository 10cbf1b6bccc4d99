#include "NetPortDialog.h"

#include "Endpoint.h"
#include "PosixNetConnect.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QVBoxLayout>

namespace korvan {

using netport::NetMode;

namespace {

// The modes in the order of the list; the first is chosen at first.
constexpr NetMode kModes[] = {NetMode::Raw, NetMode::Rfc2217, NetMode::Gateway};
constexpr const char* kModeNames[] = {"RTU поверх TCP", "RFC 2217 (Telnet)", "Modbus TCP (шлюз)"};

} // namespace

NetPortDialog::NetPortDialog(QWidget* parent)
    : QDialog(parent), address_(new QLineEdit(this)), mode_(new QComboBox(this)),
      status_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Сетевой порт"));
    setObjectName(QStringLiteral("NetPortDialog"));
    address_->setObjectName(QStringLiteral("NetAddress"));
    address_->setPlaceholderText(QStringLiteral("192.168.1.50:4001"));
    address_->setMinimumWidth(240);
    mode_->setObjectName(QStringLiteral("NetMode"));
    for (const char* name : kModeNames)
        mode_->addItem(QString::fromUtf8(name));
    status_->setObjectName(QStringLiteral("NetStatus"));
    status_->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Адрес (узел:порт)"), address_);
    form->addRow(QStringLiteral("Режим"), mode_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &NetPortDialog::Connect);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    address_->setFocus();
}

NetPortDialog::~NetPortDialog() = default;

void NetPortDialog::Connect() {
    if (attempt_) return; // one connect at a time
    const auto endpoint = netport::ParseHostPort(address_->text().toStdString(),
                                                 kModes[std::max(0, mode_->currentIndex())]);
    if (!endpoint) {
        status_->setText(QStringLiteral("Адрес задаётся как узел:порт, например 192.168.1.50:4001 "
                                        "или [fe80::1]:4001"));
        return;
    }
    name_ = netport::EndpointName(*endpoint);
    status_->setText(QStringLiteral("Соединение с %1…").arg(QString::fromStdString(name_)));
    ok_->setEnabled(false);
    attempt_ = std::make_unique<posix::ConnectAttempt>(name_);
    notifier_ = new QSocketNotifier(attempt_->Fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &NetPortDialog::Connected);
}

void NetPortDialog::Connected() {
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
    const bool connected = attempt_->ParkIfConnected();
    const std::string cause = attempt_->Cause();
    attempt_.reset();
    ok_->setEnabled(true);
    if (connected) {
        accept();
        return;
    }
    status_->setText(QString::fromStdString(cause));
}

std::optional<std::string> AskNetworkPort(QWidget* parent) {
    NetPortDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.PortName();
}

QString SpeedListHint(const std::string& port) {
    const auto endpoint = netport::ParseEndpointName(port);
    if (!endpoint || endpoint->mode == NetMode::Rfc2217) return {};
    return QStringLiteral("Линия преобразователя работает на его собственной скорости; "
                          "здесь скорость задаёт только интервалы опроса.");
}

} // namespace korvan
