// The one place where the window's widgets and the plain control state meet. Pull copies what the
// widgets show into a WindowControls; Push sets the widgets from one, touching only what differs
// and with the widgets' signals blocked, so no handler runs. Both, and the two watches, walk the
// bound rows of the window table (ControlList.cpp); ControlsView.cpp says how each kind of widget
// is read, set and watched.
#pragma once

#include "ControlsModel.h"
#include "WindowWidgets.h"

#include <functional>

class QObject;

namespace korvan {

class ControlsView {
  public:
    explicit ControlsView(const WindowWidgets& widgets) : w_(widgets) {}

    void Pull(WindowControls& controls) const;
    void Push(const WindowControls& controls) const;
    // Calls changed whenever anything Pull reads may have changed: an edit, a tick, a choice, a
    // list opened or closed, a colour set. The version label changes only through Push.
    void WatchChanges(QObject* context, const std::function<void()>& changed) const;
    // Calls chose after the operator chose something in a settings control: an item of a list,
    // a finished entry, a tick, a radio button. Indicator clicks and buttons have handlers.
    void WatchChoices(QObject* context, const std::function<void()>& chose) const;

  private:
    const WindowWidgets& w_;
};

} // namespace korvan
