#include "PortList.h"

#include "BCPort.h"

#include <QByteArray>
#include <QComboBox>
#include <QSignalBlocker>
#include <QSocketNotifier>

#include <algorithm>

namespace korvan {

namespace {

QByteArray Bytes(const std::string& name) {
    return QByteArray(name.data(), static_cast<qsizetype>(name.size()));
}

// The item "Сетевой порт…" carries a number, not a name.
constexpr int kNetworkItemData = 1;

// Network ports typed in this run, in the order typed; memory only.
std::vector<std::string>& NetworkPorts() {
    static std::vector<std::string> ports;
    return ports;
}

bool IsNetworkPort(const std::string& name) {
    const auto& net = NetworkPorts();
    return std::find(net.begin(), net.end(), name) != net.end();
}

} // namespace

void SetPortItems(QComboBox* com, const std::vector<std::string>& ports, bool keepSelected) {
    const bool hadSelection = com->currentIndex() >= 0;
    const std::string selected = SelectedPort(com);
    std::vector<std::string> items = ports;
    // The selected port stays listed while it is selected, also when its device has gone: it is
    // the one open, and the line's own failure report tells the operator.
    if (keepSelected && hadSelection && !selected.empty() && !IsNetworkPort(selected) &&
        std::find(items.begin(), items.end(), selected) == items.end()) {
        items.insert(std::upper_bound(items.begin(), items.end(), selected, PortNameLess),
                     selected);
    }
    items.insert(items.end(), NetworkPorts().begin(), NetworkPorts().end());
    if (keepSelected && com->count() == static_cast<int>(items.size()) + 1) {
        // Nothing came or went: an open drop-down of the list is left alone.
        bool same = true;
        for (int i = 0; same && i + 1 < com->count(); ++i)
            same = com->itemData(i).toByteArray() == Bytes(items[static_cast<std::size_t>(i)]);
        if (same) return;
    }
    const QSignalBlocker quiet(com);
    com->clear();
    for (const std::string& name : items)
        com->addItem(QString::fromUtf8(Bytes(name)), Bytes(name));
    com->addItem(QString::fromUtf8(kNetworkPortItem), kNetworkItemData);
    if (keepSelected && hadSelection) {
        com->setCurrentIndex(com->findData(Bytes(selected)));
    } else {
        com->setCurrentIndex(-1);
    }
}

std::string SelectedPort(const QComboBox* com) {
    const int index = com->currentIndex();
    if (index < 0) return {};
    const QVariant data = com->itemData(index);
    if (data.typeId() == QMetaType::Int) return {};
    const QByteArray bytes =
        data.typeId() == QMetaType::QByteArray ? data.toByteArray() : com->itemText(index).toUtf8();
    return bytes.toStdString();
}

bool NetworkPortItemSelected(const QComboBox* com) {
    const int index = com->currentIndex();
    return index >= 0 && com->itemData(index).typeId() == QMetaType::Int;
}

void AddNetworkPort(QComboBox* com, const std::string& name) {
    if (IsNetworkPort(name)) return;
    NetworkPorts().push_back(name);
    const QSignalBlocker quiet(com);
    com->insertItem(com->count() - 1, QString::fromUtf8(Bytes(name)), Bytes(name));
}

void SelectPort(QComboBox* com, const std::string& name) {
    const QSignalBlocker quiet(com);
    com->setCurrentIndex(com->findData(Bytes(name)));
}

PortListWatch::PortListWatch(std::function<void()> changed, QObject* parent)
    : QObject(parent), changed_(std::move(changed)) {
    if (watch_.Fd() < 0) return; // the list then stays as read at start-up
    auto* notifier = new QSocketNotifier(watch_.Fd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        if (watch_.TakeChanges()) changed_();
    });
}

} // namespace korvan
