// The one place where the window's widgets and the plain control state meet. Pull copies what the
// widgets show into a WindowControls; Push sets the widgets from one, touching only what differs
// and with the widgets' signals blocked, so no handler runs. Both, and the two watches, walk the
// bound rows of the window table (ControlList.cpp); ControlsView.cpp says how each kind of widget
// is read, set and watched.
#pragma once

#include "ControlBinding.h"
#include "ControlsModel.h"
#include "WindowWidgets.h"

#include <functional>
#include <string>

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
    // Calls chose with the control after the operator chose something in a settings control: an
    // item of a list, a finished entry, a tick, a radio button. Indicator clicks and buttons
    // have handlers.
    using ChoiceCall = std::function<void(const Binding& bound, int unit, int index)>;
    void WatchChoices(QObject* context, const ChoiceCall& chose) const;
    // Reads the one control into `value` (the same member of it), touching no other widget.
    void PullOne(const Binding& bound, int unit, int index, WindowControls& value) const;
    void PushOne(const Binding& bound, int unit, int index, const WindowControls& value) const;
    // The control's tooltip says `text` (each button of a radio group).
    void SayOne(const Binding& bound, int unit, int index, const std::string& text) const;

  private:
    const WindowWidgets& w_;
};

} // namespace korvan
