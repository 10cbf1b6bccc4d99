#include "WindowDescription.h"

#include "ListItems.h"

#include <QHash>
#include <QLabel>
#include <QWidget>

#include <array>

namespace korvan {

namespace {

using enum Kind;

bool Applies(Only only, int unit) {
    switch (only) {
    case Only::All:
        return true;
    case Only::Master:
        return unit == 0;
    case Only::Modules:
        return unit > 0;
    }
    return false;
}

QString Expand(const char* pattern, int unit, int j) {
    QString text = QString::fromUtf8(pattern);
    if (!text.contains(u'{')) return text;
    text.replace(QStringLiteral("{k+1}"), QString::number(unit + 1));
    text.replace(QStringLiteral("{k+11}"), QString::number(unit + 11));
    text.replace(QStringLiteral("{k}"), QString::number(unit));
    text.replace(QStringLiteral("{unit j}"), UnitTitle(j));
    text.replace(QStringLiteral("{unit}"), UnitTitle(unit));
    text.replace(QStringLiteral("{j}"), QString::number(j));
    return text;
}

template <std::size_t N>
void AddItems(QComboBox* list, const std::array<std::string_view, N>& texts) {
    for (std::string_view text : texts)
        list->addItem(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

class Builder {
  public:
    Builder(QWidget* area, WindowWidgets& widgets) : area_(area), widgets_(widgets) {}

    void Build(std::span<const ControlRow> rows, int unit) {
        for (const ControlRow& row : rows) {
            if (!Applies(row.only, unit)) continue;
            for (int i = 0; i < row.repeat.count; ++i)
                Create(row, unit, i);
        }
    }

    void MakeRadioGroups(std::span<const RadioGroupRow> rows, int unit) {
        for (const RadioGroupRow& row : rows) {
            if (!Applies(row.only, unit)) continue;
            auto* first = Find<QRadioButton>(Expand(row.buttons[0], unit, 0));
            auto* group = new QButtonGroup(first->parentWidget());
            group->setExclusive(true);
            for (int id = 0; id < row.count; ++id)
                group->addButton(Find<QRadioButton>(Expand(row.buttons[id], unit, 0)), id);
            Keep(row.bind, unit, 0, group, first->objectName());
        }
    }

  private:
    template <typename T> T* Find(const QString& name) const {
        T* widget = qobject_cast<T*>(named_.value(name));
        if (widget == nullptr)
            qFatal("window control %s is missing or of another kind", qPrintable(name));
        return widget;
    }

    // The widget goes into its WindowWidgets pointer the moment it is made.
    void Keep(const Binding& bind, int unit, int index, QObject* made, const QString& name) {
        if (bind.place == nullptr) return;
        if (!bind.place(widgets_, unit, bind.index + index, made))
            qFatal("window control %s is bound to a pointer of another kind", qPrintable(name));
    }

    void Create(const ControlRow& row, int unit, int i) {
        const int j = row.repeat.first + i;
        const int column = row.repeat.perColumn > 0 ? i / row.repeat.perColumn : 0;
        const int line = row.repeat.perColumn > 0 ? i % row.repeat.perColumn : i;
        const QString name = Expand(row.name, unit, j);
        const QString caption = Expand(row.caption, unit, j);
        QWidget* parent = *row.parent == '\0' ? area_ : Find<QWidget>(Expand(row.parent, unit, j));
        QRect rect(row.rect.left + column * row.repeat.columnPitch,
                   row.rect.top + line * row.repeat.rowPitch, row.rect.width, row.rect.height);

        QWidget* widget = nullptr;
        switch (row.kind) {
        case Panel:
            widget = new TPanel(parent);
            break;
        case Group:
            widget = new QGroupBox(caption, parent);
            break;
        case Label:
        case FoldLabel: {
            QLabel* label =
                row.kind == Label ? new QLabel(caption, parent) : new TFoldLabel(parent);
            label->setText(caption);
            label->setTextFormat(Qt::PlainText);
            if (rect.width() == 0) rect.setWidth(label->sizeHint().width());
            if (rect.height() == 0) rect.setHeight(kLabelHeight);
            widget = label;
            break;
        }
        case Indicator: {
            auto* indicator = new TIndicator(parent);
            if (row.flags & kStartYellow) indicator->setColour(kYellow);
            widget = indicator;
            break;
        }
        case Check:
            widget = new QCheckBox(caption, parent);
            break;
        case Radio:
            widget = new QRadioButton(caption, parent);
            break;
        case List:
            widget = CreateList(row, parent);
            break;
        case Edit: {
            auto* edit = new TEditField(parent);
            edit->SetTypedLengthLimit(row.typedLimit);
            edit->setText(caption);
            widget = edit;
            break;
        }
        case Button:
            widget = new QPushButton(caption, parent);
            break;
        }
        widget->setObjectName(name);
        widget->setGeometry(rect);
        if (*row.hint != '\0') widget->setToolTip(QString::fromUtf8(row.hint));
        if (row.flags & kNoTabStop) widget->setFocusPolicy(Qt::ClickFocus);
        if (row.flags & kHidden) widget->setHidden(true);
        if (named_.contains(name)) qFatal("window control %s is described twice", qPrintable(name));
        named_.insert(name, widget);
        Keep(row.bind, unit, i, widget, name);
    }

    static QWidget* CreateList(const ControlRow& row, QWidget* parent) {
        auto* list = new TDropList(parent);
        switch (row.items) {
        case Items::None:
            break;
        case Items::EmptyItem:
            list->addItem(QString());
            break;
        case Items::DriveTypes:
            AddItems(list, kDriveTypeTexts);
            break;
        case Items::PanelTypes:
            AddItems(list, kPanelTypeTexts);
            break;
        case Items::Speeds:
            AddItems(list, kSpeedTexts);
            break;
        }
        list->setCurrentIndex(row.startIndex);
        if (row.visibleRows > 0) list->setMaxVisibleItems(row.visibleRows);
        return list;
    }

    static constexpr int kLabelHeight = 13;

    QWidget* area_;
    WindowWidgets& widgets_;
    QHash<QString, QWidget*> named_;
};

} // namespace

QString UnitTitle(int unit) {
    return unit == 0 ? QStringLiteral("ЗОКТ-01") : QStringLiteral("ЗОКТ-МР №%1").arg(unit);
}

const DescribedControl* DescribeControl(const QString& name) {
    static const QHash<QString, DescribedControl> described = [] {
        QHash<QString, DescribedControl> all;
        auto add = [&all](std::span<const ControlRow> rows, int unit) {
            for (const ControlRow& row : rows) {
                if (!Applies(row.only, unit)) continue;
                for (int i = 0; i < row.repeat.count; ++i) {
                    const int j = row.repeat.first + i;
                    all.insert(Expand(row.name, unit, j),
                               {row.kind, Expand(row.caption, unit, j), Expand(row.parent, unit, j),
                                QString::fromUtf8(row.hint)});
                }
            }
        };
        add(CommonPanelRows(), 0);
        for (int k = 0; k < kUnitPanels; ++k)
            add(UnitPanelRows(), k);
        return all;
    }();
    const auto found = described.constFind(name);
    return found == described.cend() ? nullptr : &*found;
}

WindowWidgets BuildWindow(QWidget* area) {
    WindowWidgets widgets;
    Builder builder(area, widgets);
    builder.Build(CommonPanelRows(), 0);
    builder.MakeRadioGroups(CommonRadioGroups(), 0);
    for (int k = 0; k < kUnitPanels; ++k) {
        builder.Build(UnitPanelRows(), k);
        builder.MakeRadioGroups(UnitRadioGroups(), k);
    }
    return widgets;
}

void ForEachBoundWidget(const std::function<void(const Binding&, int unit, int index)>& visit) {
    auto walk = [&visit](std::span<const ControlRow> rows, std::span<const RadioGroupRow> groups,
                         int unit) {
        for (const ControlRow& row : rows) {
            if (row.bind.place == nullptr || !Applies(row.only, unit)) continue;
            for (int i = 0; i < row.repeat.count; ++i)
                visit(row.bind, unit, row.bind.index + i);
        }
        for (const RadioGroupRow& group : groups)
            if (group.bind.place != nullptr && Applies(group.only, unit))
                visit(group.bind, unit, group.bind.index);
    };
    walk(CommonPanelRows(), CommonRadioGroups(), 0);
    for (int k = 0; k < kUnitPanels; ++k)
        walk(UnitPanelRows(), UnitRadioGroups(), k);
}

} // namespace korvan
