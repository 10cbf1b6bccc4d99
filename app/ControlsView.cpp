#include "ControlsView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QSignalBlocker>

namespace korvan {

namespace {

// ---- widgets -> state

ListState PullList(const TDropList* list) {
    return {list->ShownIndex(), list->DroppedDown()};
}

// The field's value: an entry still being typed is not the operator's choice yet.
std::string PullText(const TEditField* edit) {
    return edit->Value().toStdString();
}

// ---- state -> widgets

void PushList(TDropList* list, const ListState& state) {
    // Whether the list is open is the operator's business; only the selection is set, and an
    // open list takes it when it closes.
    const int index = state.index >= 0 && state.index < list->count() ? state.index : -1;
    const QSignalBlocker block(list);
    list->ShowIndex(index);
}

void PushCheck(QCheckBox* box, bool ticked) {
    if (box->isChecked() == ticked) return;
    const QSignalBlocker block(box);
    box->setChecked(ticked);
}

void PushText(TEditField* edit, const std::string& text) {
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

void PushText(QLabel* label, const std::string& text) {
    const QString wanted = QString::fromStdString(text);
    if (label->text() != wanted) label->setText(wanted);
}

void PushColour(TIndicator* indicator, Colour colour) {
    indicator->setColour(colour);
}

void PushRadio(QButtonGroup* group, RadioChoice choice) {
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

template <typename T, std::size_t N, typename W, typename F>
void PullEach(std::array<T, N>& state, const std::array<W*, N>& widgets, F pull) {
    for (std::size_t i = 0; i < N; ++i)
        state[i] = pull(widgets[i]);
}

template <typename T, std::size_t N, typename W, typename F>
void PushEach(const std::array<T, N>& state, const std::array<W*, N>& widgets, F push) {
    for (std::size_t i = 0; i < N; ++i)
        push(widgets[i], state[i]);
}

bool Ticked(const QCheckBox* box) {
    return box->isChecked();
}
Colour ColourOf(const TIndicator* indicator) {
    return indicator->colour();
}

} // namespace

void ControlsView::Pull(WindowControls& c) const {
    const CommonWidgets& cw = w_.ctrl;
    c.ctrl.PUSK = cw.PUSK->colour();
    c.ctrl.PANEL = PullList(cw.PANEL);
    c.ctrl.ADR = PullText(cw.ADR);
    c.ctrl.SPD = PullList(cw.SPD);
    c.ctrl.DEL = PullText(cw.DEL);
    c.ctrl.parity = cw.parity->checkedId();
    c.ctrl.VER = cw.VER->text().toStdString();
    c.ctrl.ONLINE = cw.ONLINE->colour();

    for (int k = 0; k < kUnitPanels; ++k) {
        const UnitWidgets& uw = w_.unit[k];
        UnitControls& u = c.unit[k];
        u.Ut = PullList(uw.Ut);
        u.drives = uw.drives->checkedId();
        u.Cd = uw.Cd->isChecked();
        u.contact = uw.contact->checkedId();
        PullEach(u.O, uw.O, Ticked);
        PullEach(u.delay, uw.delay, [](const TEditField* e) { return PullText(e); });
        PullEach(u.OUT, uw.OUT, ColourOf);
        PullEach(u.IN, uw.IN, ColourOf);
        u.STATE = uw.STATE->colour();
        PullEach(u.FIN, uw.FIN, Ticked);
        u.FINA = uw.FINA->isChecked();
        PullEach(u.BIN, uw.BIN, Ticked);
    }

    const MasterWidgets& mw = w_.master;
    c.master.csContact = mw.csContact->checkedId();
    PullEach(c.master.RELAY, mw.RELAY, ColourOf);
    c.master.CS1 = mw.CS1->colour();
    c.master.CS2 = mw.CS2->colour();
    c.master.CU1 = mw.CU1->colour();
    c.master.CU2 = mw.CU2->colour();
}

void ControlsView::Push(const WindowControls& c) const {
    const CommonWidgets& cw = w_.ctrl;
    PushColour(cw.PUSK, c.ctrl.PUSK);
    PushList(cw.PANEL, c.ctrl.PANEL);
    PushText(cw.ADR, c.ctrl.ADR);
    PushList(cw.SPD, c.ctrl.SPD);
    PushText(cw.DEL, c.ctrl.DEL);
    PushRadio(cw.parity, c.ctrl.parity);
    PushText(cw.VER, c.ctrl.VER);
    PushColour(cw.ONLINE, c.ctrl.ONLINE);

    for (int k = 0; k < kUnitPanels; ++k) {
        const UnitWidgets& uw = w_.unit[k];
        const UnitControls& u = c.unit[k];
        PushList(uw.Ut, u.Ut);
        PushRadio(uw.drives, u.drives);
        PushCheck(uw.Cd, u.Cd);
        PushRadio(uw.contact, u.contact);
        PushEach(u.O, uw.O, PushCheck);
        PushEach(u.delay, uw.delay, [](TEditField* e, const std::string& v) { PushText(e, v); });
        PushEach(u.OUT, uw.OUT, PushColour);
        PushEach(u.IN, uw.IN, PushColour);
        PushColour(uw.STATE, u.STATE);
        PushEach(u.FIN, uw.FIN, PushCheck);
        PushCheck(uw.FINA, u.FINA);
        PushEach(u.BIN, uw.BIN, PushCheck);
    }

    const MasterWidgets& mw = w_.master;
    PushRadio(mw.csContact, c.master.csContact);
    PushEach(c.master.RELAY, mw.RELAY, PushColour);
    PushColour(mw.CS1, c.master.CS1);
    PushColour(mw.CS2, c.master.CS2);
    PushColour(mw.CU1, c.master.CU1);
    PushColour(mw.CU2, c.master.CU2);
}

namespace {

// Connects each kind of bound widget's change signal.
struct ChangeWatch {
    QObject* context;
    std::function<void()> changed;

    void operator()(TDropList* list) const {
        QObject::connect(list, &QComboBox::currentIndexChanged, context, changed);
        QObject::connect(list, &TDropList::DroppedDownChanged, context, changed);
    }
    void operator()(QLineEdit* edit) const {
        QObject::connect(edit, &QLineEdit::textChanged, context, changed);
    }
    void operator()(QCheckBox* box) const {
        QObject::connect(box, &QCheckBox::toggled, context, changed);
    }
    void operator()(QButtonGroup* group) const {
        QObject::connect(group, &QButtonGroup::idToggled, context, changed);
    }
    void operator()(TIndicator* indicator) const {
        QObject::connect(indicator, &TIndicator::ColourChanged, context, changed);
    }
    template <typename W, std::size_t N> void operator()(const std::array<W*, N>& widgets) const {
        for (W* widget : widgets)
            (*this)(widget);
    }
};

} // namespace

namespace {

// Connects each kind of bound widget's signal for a choice the operator made.
struct ChoiceWatch {
    QObject* context;
    std::function<void()> chose;

    void operator()(TDropList* list) const {
        QObject::connect(list, &QComboBox::activated, context, chose);
    }
    void operator()(TEditField* edit) const {
        QObject::connect(edit, &TEditField::EntryTaken, context, chose);
    }
    void operator()(QCheckBox* box) const {
        QObject::connect(box, &QCheckBox::clicked, context, chose);
    }
    void operator()(QButtonGroup* group) const {
        QObject::connect(group, &QButtonGroup::idClicked, context, chose);
    }
    template <typename W, std::size_t N> void operator()(const std::array<W*, N>& widgets) const {
        for (W* widget : widgets)
            (*this)(widget);
    }
};

} // namespace

void ControlsView::WatchChoices(QObject* context, const std::function<void()>& chose) const {
    const ChoiceWatch watch{context, chose};
    const CommonWidgets& cw = w_.ctrl;
    watch(cw.PANEL);
    watch(cw.ADR);
    watch(cw.SPD);
    watch(cw.DEL);
    watch(cw.parity);
    for (const UnitWidgets& uw : w_.unit) {
        watch(uw.Ut);
        watch(uw.drives);
        watch(uw.Cd);
        watch(uw.contact);
        watch(uw.O);
        watch(uw.delay);
        watch(uw.FIN);
        watch(uw.FINA);
        watch(uw.BIN);
    }
    watch(w_.master.csContact);
}

void ControlsView::WatchChanges(QObject* context, const std::function<void()>& changed) const {
    const ChangeWatch watch{context, changed};
    const CommonWidgets& cw = w_.ctrl;
    watch(cw.PUSK);
    watch(cw.PANEL);
    watch(cw.ADR);
    watch(cw.SPD);
    watch(cw.DEL);
    watch(cw.parity);
    watch(cw.ONLINE);
    for (const UnitWidgets& uw : w_.unit) {
        watch(uw.Ut);
        watch(uw.drives);
        watch(uw.Cd);
        watch(uw.contact);
        watch(uw.O);
        watch(uw.delay);
        watch(uw.OUT);
        watch(uw.IN);
        watch(uw.STATE);
        watch(uw.FIN);
        watch(uw.FINA);
        watch(uw.BIN);
    }
    const MasterWidgets& mw = w_.master;
    watch(mw.csContact);
    watch(mw.RELAY);
    watch(mw.CS1);
    watch(mw.CS2);
    watch(mw.CU1);
    watch(mw.CU2);
}

} // namespace korvan
