// The controls of the main window as data: one table for the common panel CTRL and one table for
// the unit panels, from which all ten panels DEV_0 .. DEV_9 are built in a loop. The rows are in
// ControlList.cpp; each row also says which widget pointer and which control state it is bound to.
#pragma once

#include "ControlBinding.h"
#include "WindowWidgets.h"

#include <QString>

#include <span>

class QWidget;

namespace korvan {

enum class Kind { Panel, Group, Label, FoldLabel, Indicator, Check, Radio, List, Edit, Button };

// Which unit panels a row of the unit table belongs to.
enum class Only { All, Master, Modules };

enum class Items { None, EmptyItem, DriveTypes, PanelTypes, Speeds };

enum RowFlag : unsigned {
    kNoTabStop = 1u, // reachable by clicking, skipped by the Tab key
    kHidden = 2u,
    kStartYellow = 4u, // indicator that starts yellow instead of green
};

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;  // 0 for a label: as wide as its caption
    int height = 0; // 0 for a label: one text row
};

// A row repeated with an index j: j runs from `first`, the rows fill columns of `perColumn`.
struct Repeat {
    int count = 1;
    int first = 0;
    int perColumn = 0; // 0: one column
    int rowPitch = 16;
    int columnPitch = 0;
};

// Name, parent and caption are patterns: {k} the unit number, {k+1} and {k+11} the numbers of the
// matrix groups, {j} the repeat index, {unit} the title of unit k, {unit j} the title of unit j.
struct ControlRow {
    const char* name;
    Kind kind;
    const char* parent; // "" for a panel: the window's scrollable area
    Rect rect;
    const char* caption = "";
    const char* hint = "";
    Only only = Only::All;
    unsigned flags = 0;
    int typedLimit = 0; // edit fields: most characters the operator can type
    Items items = Items::None;
    int startIndex = -1;
    int visibleRows = 0;
    Repeat repeat = {};
    Binding bind = {}; // for a repeated row, the index runs with the repeat
};

// Radio buttons that exclude each other; the button's place in the list is its choice number.
struct RadioGroupRow {
    const char* buttons[3];
    int count;
    Only only;
    Binding bind = {}; // the group and the choice it shows
};

std::span<const ControlRow> CommonPanelRows();
std::span<const ControlRow> UnitPanelRows();
std::span<const RadioGroupRow> CommonRadioGroups();
std::span<const RadioGroupRow> UnitRadioGroups();

// "ЗОКТ-01" for unit 0, "ЗОКТ-МР №k" for the modules.
QString UnitTitle(int unit);

// A control of the window as the tables describe it, found by its object name ("Labin3_2",
// "GroupBox4", "SPD"): its caption, hint and the object name of its parent, patterns expanded.
struct DescribedControl {
    Kind kind;
    QString caption;
    QString parent; // empty for a panel
    QString hint;
};

// Null when no control has that name. The lookup is built on first use and kept.
const DescribedControl* DescribeControl(const QString& name);

// Creates every control of the window inside `area` (CTRL first, then DEV_0 .. DEV_9), each with
// its resource name as objectName, and returns typed pointers to them.
WindowWidgets BuildWindow(QWidget* area);

// Calls visit for every bound widget and radio group BuildWindow makes, with the unit it belongs to
// and the element of an array member it is kept in.
void ForEachBoundWidget(const std::function<void(const Binding&, int unit, int index)>& visit);

} // namespace korvan
