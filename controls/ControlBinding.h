// What ties a row of the window table to the program: the WindowWidgets pointer the row's widget
// is kept in and, for a control with state, the WindowControls member it shows. A binding is made
// from those two member pointers, so a row bound to a member of another type does not compile; the
// part (common panel, unit k or master) follows from the struct the member belongs to, and an
// array member takes the row's index (plus the repeat index of a repeated row).
#pragma once

#include "ControlChoice.h"
#include "ControlParts.h"
#include "ControlsModel.h"
#include "WindowWidgets.h"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>

namespace korvan {

enum class Watched {
    Changes, // anything Pull reads may have changed
    Choices, // the operator chose something
};

// How each kind of bound widget is read, set and watched (ControlsView.cpp). Setting touches only
// what differs, with the widget's signals blocked.
void PullValue(const TDropList* list, ListState& state);
void PullValue(const TEditField* edit, std::string& text);
void PullValue(const QLabel* label, std::string& text);
void PullValue(const QCheckBox* box, bool& ticked);
void PullValue(const TIndicator* indicator, Colour& colour);
void PullValue(const QButtonGroup* group, RadioChoice& choice);
void PushValue(TDropList* list, const ListState& state);
void PushValue(TEditField* edit, const std::string& text);
void PushValue(QLabel* label, const std::string& text);
void PushValue(QCheckBox* box, bool ticked);
void PushValue(TIndicator* indicator, Colour colour);
void PushValue(QButtonGroup* group, RadioChoice choice);
using WatchCall = std::function<void()>;
void WatchWidget(TDropList* list, Watched which, QObject* context, const WatchCall& call);
void WatchWidget(TEditField* edit, Watched which, QObject* context, const WatchCall& call);
void WatchWidget(QLabel* label, Watched which, QObject* context, const WatchCall& call);
void WatchWidget(QCheckBox* box, Watched which, QObject* context, const WatchCall& call);
void WatchWidget(TIndicator* indicator, Watched which, QObject* context, const WatchCall& call);
void WatchWidget(QButtonGroup* group, Watched which, QObject* context, const WatchCall& call);

struct Binding {
    // Keeps the widget made for the row in its pointer; false when it is of another type.
    bool (*place)(WindowWidgets& widgets, int unit, int index, QObject* made) = nullptr;
    // Null for a control without state: a panel, a button, a caption.
    void (*pull)(const WindowWidgets& widgets, WindowControls& controls, int unit,
                 int index) = nullptr;
    void (*push)(const WindowWidgets& widgets, const WindowControls& controls, int unit,
                 int index) = nullptr;
    void (*watch)(const WindowWidgets& widgets, int unit, int index, Watched which,
                  QObject* context, const WatchCall& call) = nullptr;
    int index = 0; // element of an array member
    // The bound member as a control the operator chooses in; null for a control without state.
    ControlRef::Copy copy = nullptr;
    ControlRef::Probe probe = nullptr;
    // The widget kept (a QButtonGroup for a radio group).
    QObject* (*object)(const WindowWidgets& widgets, int unit, int index) = nullptr;

    ControlRef Control(int unit, int element) const { return {copy, probe, unit, element}; }
};

namespace binding {

template <auto widget, auto state> struct Ops {
    template <typename Widgets> static auto& WidgetAt(Widgets& w, int unit, int index) {
        return parts::At<widget>(w, unit, index);
    }
    template <typename Controls> static auto& StateAt(Controls& c, int unit, int index) {
        return parts::At<state>(c, unit, index);
    }
    static bool Place(WindowWidgets& w, int unit, int index, QObject* made) {
        auto& pointer = WidgetAt(w, unit, index);
        pointer = qobject_cast<std::remove_reference_t<decltype(pointer)>>(made);
        return pointer != nullptr;
    }
    static void Pull(const WindowWidgets& w, WindowControls& c, int unit, int index) {
        PullValue(WidgetAt(w, unit, index), StateAt(c, unit, index));
    }
    static void Push(const WindowWidgets& w, const WindowControls& c, int unit, int index) {
        PushValue(WidgetAt(w, unit, index), StateAt(c, unit, index));
    }
    static void Watch(const WindowWidgets& w, int unit, int index, Watched which, QObject* context,
                      const WatchCall& call) {
        WatchWidget(WidgetAt(w, unit, index), which, context, call);
    }
    static QObject* Object(const WindowWidgets& w, int unit, int index) {
        return WidgetAt(w, unit, index);
    }
};

} // namespace binding

// Bind<&UnitWidgets::Ut, &UnitControls::Ut>(): the widget kept in Ut and showing Ut of its unit.
// Bind<&CommonWidgets::GO_BUT>(): kept only. The index picks the element of array members.
template <auto widget, auto state = nullptr> constexpr Binding Bind(int index = 0) {
    using Ops = binding::Ops<widget, state>;
    if constexpr (std::is_null_pointer_v<decltype(state)>)
        return {.place = &Ops::Place, .index = index, .object = &Ops::Object};
    else
        return {&Ops::Place,
                &Ops::Pull,
                &Ops::Push,
                &Ops::Watch,
                index,
                &choice::Ops<state>::Copy,
                &choice::Ops<state>::Probe,
                &Ops::Object};
}

} // namespace korvan
