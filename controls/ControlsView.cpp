#include "ControlsView.h"

#include "WindowDescription.h"

#include <QSignalBlocker>

namespace korvan {

// ---- widgets -> state

void PullValue(const TDropList* list, ListState& state) {
    state = {list->ShownIndex(), list->DroppedDown()};
}

// The field's value: an entry still being typed is not the operator's choice yet.
void PullValue(const TEditField* edit, std::string& text) {
    text = edit->Value().toStdString();
}

void PullValue(const QLabel* label, std::string& text) {
    text = label->text().toStdString();
}

void PullValue(const QCheckBox* box, bool& ticked) {
    ticked = box->isChecked();
}

void PullValue(const TIndicator* indicator, Colour& colour) {
    colour = indicator->colour();
}

void PullValue(const QButtonGroup* group, RadioChoice& choice) {
    choice = group->checkedId();
}

// ---- state -> widgets

void PushValue(TDropList* list, const ListState& state) {
    // Whether the list is open is the operator's business; only the selection is set, and an
    // open list takes it when it closes.
    const int index = state.index >= 0 && state.index < list->count() ? state.index : -1;
    const QSignalBlocker block(list);
    list->ShowIndex(index);
}

void PushValue(QCheckBox* box, bool ticked) {
    if (box->isChecked() == ticked) return;
    const QSignalBlocker block(box);
    box->setChecked(ticked);
}

void PushValue(TEditField* edit, const std::string& text) {
    const QString wanted = QString::fromStdString(text);
    const QSignalBlocker block(edit);
    if (edit->Editing()) { // what the operator types stays as it is, cursor and all
        edit->ShowValue(wanted);
        return;
    }
    if (edit->text() == wanted) return;
    edit->ShowValue(wanted);
    // Like any field filled from outside: show its beginning, also when it is longer than the box.
    if (!edit->hasFocus()) edit->setCursorPosition(0);
}

void PushValue(QLabel* label, const std::string& text) {
    const QString wanted = QString::fromStdString(text);
    if (label->text() != wanted) label->setText(wanted);
}

void PushValue(TIndicator* indicator, Colour colour) {
    indicator->setColour(colour);
}

void PushValue(QButtonGroup* group, RadioChoice choice) {
    QAbstractButton* wanted = group->button(choice); // null for -1 and for any unknown choice
    QAbstractButton* current = group->checkedButton();
    if (wanted == current) return;
    const QSignalBlocker blockGroup(group);
    if (wanted != nullptr) {
        const QSignalBlocker blockWanted(wanted);
        const QSignalBlocker blockCurrent(current);
        wanted->setChecked(true);
        return;
    }
    // An exclusive group never unchecks its last button by itself.
    const QSignalBlocker blockCurrent(current);
    group->setExclusive(false);
    current->setChecked(false);
    group->setExclusive(true);
}

// ---- signals: a change of anything Pull reads, or a choice the operator made

void WatchWidget(TDropList* list, Watched which, QObject* context, const WatchCall& call) {
    if (which == Watched::Choices) {
        QObject::connect(list, &QComboBox::activated, context, call);
        return;
    }
    QObject::connect(list, &QComboBox::currentIndexChanged, context, call);
    QObject::connect(list, &TDropList::DroppedDownChanged, context, call);
}

void WatchWidget(TEditField* edit, Watched which, QObject* context, const WatchCall& call) {
    if (which == Watched::Choices) {
        QObject::connect(edit, &TEditField::EntryTaken, context, call);
        return;
    }
    // A finished entry changes the field's value without changing its text.
    QObject::connect(edit, &QLineEdit::textChanged, context, call);
    QObject::connect(edit, &TEditField::EntryTaken, context, call);
}

// The version label changes only through Push, and the operator cannot choose it.
void WatchWidget(QLabel*, Watched, QObject*, const WatchCall&) {}

void WatchWidget(QCheckBox* box, Watched which, QObject* context, const WatchCall& call) {
    if (which == Watched::Choices)
        QObject::connect(box, &QCheckBox::clicked, context, call);
    else
        QObject::connect(box, &QCheckBox::toggled, context, call);
}

// A click on an indicator is no choice of a setting; it has a handler of its own.
void WatchWidget(TIndicator* indicator, Watched which, QObject* context, const WatchCall& call) {
    if (which == Watched::Changes)
        QObject::connect(indicator, &TIndicator::ColourChanged, context, call);
}

void WatchWidget(QButtonGroup* group, Watched which, QObject* context, const WatchCall& call) {
    if (which == Watched::Choices)
        QObject::connect(group, &QButtonGroup::idClicked, context, call);
    else
        QObject::connect(group, &QButtonGroup::idToggled, context, call);
}

// ---- the whole window, walking the bound rows of the window table

void ControlsView::Pull(WindowControls& controls) const {
    ForEachBoundWidget([&](const Binding& bound, int unit, int index) {
        if (bound.pull != nullptr) bound.pull(w_, controls, unit, index);
    });
}

void ControlsView::Push(const WindowControls& controls) const {
    ForEachBoundWidget([&](const Binding& bound, int unit, int index) {
        if (bound.push != nullptr) bound.push(w_, controls, unit, index);
    });
}

void ControlsView::WatchChanges(QObject* context, const std::function<void()>& changed) const {
    ForEachBoundWidget([&](const Binding& bound, int unit, int index) {
        if (bound.watch != nullptr)
            bound.watch(w_, unit, index, Watched::Changes, context, changed);
    });
}

void ControlsView::WatchChoices(QObject* context, const ChoiceCall& chose) const {
    ForEachBoundWidget([&](const Binding& bound, int unit, int index) {
        if (bound.watch == nullptr) return;
        bound.watch(w_, unit, index, Watched::Choices, context,
                    [chose, bound, unit, index] { chose(bound, unit, index); });
    });
}

void ControlsView::PullOne(const Binding& bound, int unit, int index, WindowControls& value) const {
    if (bound.pull != nullptr) bound.pull(w_, value, unit, index);
}

void ControlsView::PushOne(const Binding& bound, int unit, int index,
                           const WindowControls& value) const {
    if (bound.push != nullptr) bound.push(w_, value, unit, index);
}

void ControlsView::SayOne(const Binding& bound, int unit, int index,
                          const std::string& text) const {
    QObject* object = bound.object != nullptr ? bound.object(w_, unit, index) : nullptr;
    const QString tip = QString::fromStdString(text);
    if (auto* widget = qobject_cast<QWidget*>(object)) widget->setToolTip(tip);
    if (auto* group = qobject_cast<QButtonGroup*>(object))
        for (QAbstractButton* button : group->buttons())
            button->setToolTip(tip);
}

} // namespace korvan
