// The one place where the window's widgets and the plain control state meet. Pull copies what the
// widgets show into a WindowControls; Push sets the widgets from one, touching only what differs
// and with the widgets' signals blocked, so no handler runs.
#pragma once

#include "ControlsModel.h"
#include "WindowWidgets.h"

namespace korvan {

class ControlsView {
  public:
    explicit ControlsView(const WindowWidgets& widgets) : w_(widgets) {}

    void Pull(WindowControls& controls) const;
    void Push(const WindowControls& controls) const;

  private:
    const WindowWidgets& w_;
};

} // namespace korvan
