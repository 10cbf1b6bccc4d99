// The COM list: the machine's serial ports as the device map names them. Each item carries its
// name's bytes, so that a name that is not valid text still opens the device it names; the list
// follows adapters and virtual ports coming and going while the station runs.
#pragma once

#include "PosixDeviceWatch.h"

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QSocketNotifier;

namespace korvan {

// Replaces the items with ports, in the order given, then the network ports typed in this run
// and last the item "Сетевой порт…"; nothing is selected afterwards unless keepSelected finds
// the previous selection again. Emits no signal of the list.
void SetPortItems(QComboBox* com, const std::vector<std::string>& ports, bool keepSelected);

// The name of the selected port as bytes; empty when nothing or "Сетевой порт…" is selected.
std::string SelectedPort(const QComboBox* com);

// The last item, which opens the window "Сетевой порт" instead of naming a port.
inline constexpr char kNetworkPortItem[] = "Сетевой порт…";
bool NetworkPortItemSelected(const QComboBox* com);
// A network port typed in this run: listed from now on, until the station closes.
void AddNetworkPort(QComboBox* com, const std::string& name);
// Selects the port of this name without the list's signal.
void SelectPort(QComboBox* com, const std::string& name);

// Calls changed on the window thread when serial devices may have come or gone.
class PortListWatch : public QObject {
  public:
    PortListWatch(std::function<void()> changed, QObject* parent);

  private:
    posix::DeviceWatch watch_;
    std::function<void()> changed_;
};

} // namespace korvan
