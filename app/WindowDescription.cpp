#include "WindowDescription.h"

#include "ListItems.h"

#include <QHash>
#include <QLabel>
#include <QWidget>

#include <array>

namespace korvan {

namespace {

using enum Kind;

// Column of the matrix check boxes: five rows of 16 pixels, second column 120 pixels right.
constexpr Repeat kMatrix{
    .count = 10, .first = 0, .perColumn = 5, .rowPitch = 16, .columnPitch = 120};

constexpr ControlRow kCommonRows[] = {
    {.name = "CTRL", .kind = Panel, .parent = "", .rect = {0, 2, 128, 696}},
    {.name = "CTRL_NAME", .kind = Label, .parent = "CTRL", .rect = {48, 8}, .caption = "Общие"},
    {.name = "MIN_CTRL",
     .kind = FoldLabel,
     .parent = "CTRL",
     .rect = {117, 0},
     .caption = "X",
     .hint = "Свернуть"},

    {.name = "CMD",
     .kind = Group,
     .parent = "CTRL",
     .rect = {8, 24, 113, 161},
     .caption = "Команды"},
    {.name = "PUSK", .kind = Indicator, .parent = "CMD", .rect = {8, 20, 13, 13}},
    {.name = "Labpusk", .kind = Label, .parent = "CMD", .rect = {26, 20}, .caption = "Ком. сигнал"},
    {.name = "GO_BUT",
     .kind = Button,
     .parent = "CMD",
     .rect = {8, 40, 96, 23},
     .caption = "Пуск",
     .hint = "Ком. сигнал ПУСК"},
    {.name = "ST_BUT",
     .kind = Button,
     .parent = "CMD",
     .rect = {8, 68, 96, 23},
     .caption = "Останов",
     .hint = "Ком. сигнал ОСТАНОВ"},
    {.name = "RES_BUT",
     .kind = Button,
     .parent = "CMD",
     .rect = {8, 96, 96, 23},
     .caption = "Сброс",
     .hint = "Сброс сигнала ПОЖАР"},
    {.name = "RESTORE",
     .kind = Button,
     .parent = "CMD",
     .rect = {8, 124, 96, 23},
     .caption = "Восст. зав. настр.",
     .hint = "Восстановление заводских настроек ЗОКТ"},

    {.name = "PU",
     .kind = Group,
     .parent = "CTRL",
     .rect = {8, 192, 113, 49},
     .caption = "Тип панели"},
    {.name = "PANEL",
     .kind = List,
     .parent = "PU",
     .rect = {8, 20, 97, 19},
     .items = Items::PanelTypes},

    {.name = "NET", .kind = Group, .parent = "CTRL", .rect = {8, 248, 113, 121}, .caption = "Сеть"},
    {.name = "Labadr", .kind = Label, .parent = "NET", .rect = {8, 22}, .caption = "Адрес"},
    {.name = "ADR",
     .kind = Edit,
     .parent = "NET",
     .rect = {48, 22, 28, 13},
     .caption = "0",
     .typedLimit = 3},
    {.name = "FIND",
     .kind = Button,
     .parent = "NET",
     .rect = {82, 17, 23, 23},
     .caption = "@",
     .hint = "Определение подключенных модулей"},
    {.name = "Labspd", .kind = Label, .parent = "NET", .rect = {8, 46}, .caption = "Скорость"},
    {.name = "SPD", .kind = List, .parent = "NET", .rect = {8, 62, 97, 19}, .items = Items::Speeds},
    {.name = "Labdel", .kind = Label, .parent = "NET", .rect = {8, 94}, .caption = "Таймаут, мс"},
    {.name = "DEL",
     .kind = Edit,
     .parent = "NET",
     .rect = {72, 94, 33, 13},
     .caption = "0",
     .typedLimit = 4},
    {.name = "EVEN",
     .kind = Radio,
     .parent = "NET",
     .rect = {8, 16, 97, 17},
     .caption = "Чет",
     .flags = kHidden},
    {.name = "ODD",
     .kind = Radio,
     .parent = "NET",
     .rect = {8, 32, 97, 17},
     .caption = "Нечет",
     .flags = kHidden},
    {.name = "NOPAR",
     .kind = Radio,
     .parent = "NET",
     .rect = {8, 48, 97, 17},
     .caption = "Без четности",
     .flags = kHidden},

    {.name = "VERSION",
     .kind = Group,
     .parent = "CTRL",
     .rect = {8, 376, 113, 49},
     .caption = "Версия прошивки"},
    {.name = "VER", .kind = Label, .parent = "VERSION", .rect = {8, 22, 97, 13}},

    {.name = "INTERCOM",
     .kind = Group,
     .parent = "CTRL",
     .rect = {8, 432, 113, 121},
     .caption = "Связь"},
    {.name = "COM",
     .kind = List,
     .parent = "INTERCOM",
     .rect = {8, 20, 97, 19},
     .items = Items::EmptyItem,
     .visibleRows = 14},
    {.name = "Labpcadr", .kind = Label, .parent = "INTERCOM", .rect = {8, 48}, .caption = "Адрес"},
    {.name = "SENDADR",
     .kind = Edit,
     .parent = "INTERCOM",
     .rect = {48, 48, 28, 13},
     .caption = "1",
     .typedLimit = 3},
    {.name = "Labpcspd",
     .kind = Label,
     .parent = "INTERCOM",
     .rect = {8, 70},
     .caption = "Скорость"},
    {.name = "PCSPD",
     .kind = List,
     .parent = "INTERCOM",
     .rect = {8, 86, 97, 19},
     .items = Items::Speeds,
     .startIndex = 3,
     .visibleRows = 7},
    {.name = "RadioButton1",
     .kind = Radio,
     .parent = "INTERCOM",
     .rect = {8, 16, 97, 17},
     .caption = "Без четности",
     .flags = kHidden},
    {.name = "RadioButton2",
     .kind = Radio,
     .parent = "INTERCOM",
     .rect = {8, 32, 97, 17},
     .caption = "Чет",
     .flags = kHidden},
    {.name = "RadioButton3",
     .kind = Radio,
     .parent = "INTERCOM",
     .rect = {8, 48, 97, 17},
     .caption = "Нечет",
     .flags = kHidden},

    {.name = "ONLINE",
     .kind = Indicator,
     .parent = "CTRL",
     .rect = {16, 672, 13, 13},
     .flags = kStartYellow},
    {.name = "Labonline", .kind = Label, .parent = "CTRL", .rect = {34, 672}, .caption = "Обмен"},
};

constexpr ControlRow kUnitRows[] = {
    {.name = "DEV_{k}", .kind = Panel, .parent = "", .rect = {0, 2, 256, 696}},
    {.name = "NAME_{k}",
     .kind = Label,
     .parent = "DEV_{k}",
     .rect = {104, 8},
     .caption = "{unit}",
     .only = Only::Master},
    {.name = "NAME_{k}",
     .kind = Label,
     .parent = "DEV_{k}",
     .rect = {96, 8},
     .caption = "{unit}",
     .only = Only::Modules},
    {.name = "MIN_{k}",
     .kind = FoldLabel,
     .parent = "DEV_{k}",
     .rect = {245, 0},
     .caption = "X",
     .hint = "Свернуть"},

    {.name = "DRV_{k}",
     .kind = Group,
     .parent = "DEV_{k}",
     .rect = {8, 24, 242, 137},
     .caption = "Привод"},
    {.name = "Ut_{k}",
     .kind = List,
     .parent = "DRV_{k}",
     .rect = {9, 16, 224, 19},
     .flags = kNoTabStop,
     .items = Items::DriveTypes,
     .visibleRows = kDriveTypeItems},
    {.name = "ONE_{k}",
     .kind = Radio,
     .parent = "DRV_{k}",
     .rect = {8, 40, 97, 17},
     .caption = "Один привод"},
    {.name = "TWO_{k}",
     .kind = Radio,
     .parent = "DRV_{k}",
     .rect = {8, 56, 97, 17},
     .caption = "Два привода"},
    {.name = "Cd_{k}",
     .kind = Check,
     .parent = "DRV_{k}",
     .rect = {112, 40, 121, 17},
     .caption = "Контроль приводов",
     .flags = kNoTabStop},
    {.name = "TD1_{k}",
     .kind = Edit,
     .parent = "DRV_{k}",
     .rect = {112, 64, 20, 13},
     .flags = kNoTabStop,
     .typedLimit = 3},
    {.name = "TP1_{k}",
     .kind = Edit,
     .parent = "DRV_{k}",
     .rect = {112, 80, 20, 13},
     .flags = kNoTabStop,
     .typedLimit = 3},
    {.name = "TD2_{k}",
     .kind = Edit,
     .parent = "DRV_{k}",
     .rect = {112, 96, 20, 13},
     .flags = kNoTabStop,
     .typedLimit = 3},
    {.name = "TP2_{k}",
     .kind = Edit,
     .parent = "DRV_{k}",
     .rect = {112, 112, 20, 13},
     .flags = kNoTabStop,
     .typedLimit = 3},
    {.name = "Labtd1_{k}",
     .kind = Label,
     .parent = "DRV_{k}",
     .rect = {138, 64},
     .caption = "Задержка вкл. 1"},
    {.name = "Labtp1_{k}",
     .kind = Label,
     .parent = "DRV_{k}",
     .rect = {138, 80},
     .caption = "Задержка откл. 1"},
    {.name = "Labtd2_{k}",
     .kind = Label,
     .parent = "DRV_{k}",
     .rect = {138, 96},
     .caption = "Задержка вкл. 2"},
    {.name = "Labtp2_{k}",
     .kind = Label,
     .parent = "DRV_{k}",
     .rect = {138, 112},
     .caption = "Задержка откл. 2"},
    {.name = "OUT{j}_{k}",
     .kind = Indicator,
     .parent = "DRV_{k}",
     .rect = {8, 96, 13, 13},
     .repeat = {.count = 2, .first = 1}},
    {.name = "Labout{j}_{k}",
     .kind = Label,
     .parent = "DRV_{k}",
     .rect = {26, 96},
     .caption = "Выход {j}",
     .repeat = {.count = 2, .first = 1}},

    {.name = "INPUTS_{k}",
     .kind = Group,
     .parent = "DEV_{k}",
     .rect = {8, 168, 129, 161},
     .caption = "Датчики/концевики",
     .only = Only::Master},
    {.name = "INPUTS_{k}",
     .kind = Group,
     .parent = "DEV_{k}",
     .rect = {8, 168, 241, 161},
     .caption = "Датчики/концевики",
     .only = Only::Modules},
    {.name = "R_{k}",
     .kind = Radio,
     .parent = "INPUTS_{k}",
     .rect = {8, 16, 97, 17},
     .caption = "Контроль R"},
    {.name = "NZ_{k}",
     .kind = Radio,
     .parent = "INPUTS_{k}",
     .rect = {8, 32, 97, 17},
     .caption = "НЗ контакт"},
    {.name = "NO_{k}",
     .kind = Radio,
     .parent = "INPUTS_{k}",
     .rect = {8, 48, 97, 17},
     .caption = "НО контакт"},
    {.name = "IN{j}_{k}",
     .kind = Indicator,
     .parent = "INPUTS_{k}",
     .rect = {8, 72, 13, 13},
     .repeat = {.count = 5, .first = 1}},
    {.name = "Labin{j}_{k}",
     .kind = Label,
     .parent = "INPUTS_{k}",
     .rect = {26, 72},
     .caption = "Вход {j}",
     .repeat = {.count = 5, .first = 1}},

    {.name = "CS",
     .kind = Group,
     .parent = "DEV_{k}",
     .rect = {144, 168, 105, 161},
     .caption = "Ком. сигналы",
     .only = Only::Master},
    {.name = "CSR",
     .kind = Radio,
     .parent = "CS",
     .rect = {8, 16, 89, 17},
     .caption = "Контроль R",
     .only = Only::Master},
    {.name = "CSNZ",
     .kind = Radio,
     .parent = "CS",
     .rect = {8, 32, 89, 17},
     .caption = "НЗ контакт",
     .only = Only::Master},
    {.name = "CSNO",
     .kind = Radio,
     .parent = "CS",
     .rect = {8, 48, 89, 17},
     .caption = "НО контакт",
     .only = Only::Master},
    {.name = "CS1",
     .kind = Indicator,
     .parent = "CS",
     .rect = {8, 72, 13, 13},
     .only = Only::Master},
    {.name = "Labcs1",
     .kind = Label,
     .parent = "CS",
     .rect = {26, 72},
     .caption = "Пуск СК",
     .only = Only::Master},
    {.name = "CS2",
     .kind = Indicator,
     .parent = "CS",
     .rect = {8, 88, 13, 13},
     .only = Only::Master},
    {.name = "Labcs2",
     .kind = Label,
     .parent = "CS",
     .rect = {26, 88},
     .caption = "Стоп СК",
     .only = Only::Master},
    {.name = "CU1",
     .kind = Indicator,
     .parent = "CS",
     .rect = {8, 104, 13, 13},
     .only = Only::Master},
    {.name = "Labcu1",
     .kind = Label,
     .parent = "CS",
     .rect = {26, 104},
     .caption = "Пуск U",
     .only = Only::Master},
    {.name = "CU2",
     .kind = Indicator,
     .parent = "CS",
     .rect = {8, 120, 13, 13},
     .only = Only::Master},
    {.name = "Labcu2",
     .kind = Label,
     .parent = "CS",
     .rect = {26, 120},
     .caption = "Стоп U",
     .only = Only::Master},

    {.name = "RELAYS_{k}",
     .kind = Group,
     .parent = "DEV_{k}",
     .rect = {8, 336, 241, 89},
     .caption = "Обобщенные выходные сигналы (реле)"},
    {.name = "O1_{k}",
     .kind = Check,
     .parent = "RELAYS_{k}",
     .rect = {8, 16, 185, 17},
     .caption = "Пуск",
     .flags = kNoTabStop},
    {.name = "O2_{k}",
     .kind = Check,
     .parent = "RELAYS_{k}",
     .rect = {8, 32, 185, 17},
     .caption = "Останов",
     .flags = kNoTabStop},
    {.name = "O3_{k}",
     .kind = Check,
     .parent = "RELAYS_{k}",
     .rect = {8, 48, 185, 17},
     .caption = "Автоматика отключена",
     .flags = kNoTabStop},
    {.name = "O4_{k}",
     .kind = Check,
     .parent = "RELAYS_{k}",
     .rect = {8, 64, 185, 17},
     .caption = "Неисправность",
     .flags = kNoTabStop},
    // The relay indicators sit on the rows of O1 .. O4, centred on the 17-pixel box rows.
    {.name = "RELAY{j}",
     .kind = Indicator,
     .parent = "RELAYS_{k}",
     .rect = {216, 18, 13, 13},
     .only = Only::Master,
     .repeat = {.count = 4, .first = 1}},

    {.name = "GroupBox{k+1}",
     .kind = Group,
     .parent = "DEV_{k}",
     .rect = {8, 432, 241, 121},
     .caption = "Источник пускового сигнала"},
    {.name = "FINA_{k}",
     .kind = Check,
     .parent = "GroupBox{k+1}",
     .rect = {8, 16, 217, 17},
     .caption = "Вход командного сигнала ЗОКТ-01",
     .flags = kNoTabStop},
    {.name = "FIN{j}_{k}",
     .kind = Check,
     .parent = "GroupBox{k+1}",
     .rect = {8, 32, 97, 17},
     .caption = "{unit j}",
     .flags = kNoTabStop,
     .repeat = kMatrix},

    {.name = "GroupBox{k+11}",
     .kind = Group,
     .parent = "DEV_{k}",
     .rect = {8, 560, 241, 105},
     .caption = "Блокировка при срабатывании"},
    {.name = "BIN{j}_{k}",
     .kind = Check,
     .parent = "GroupBox{k+11}",
     .rect = {8, 16, 97, 17},
     .caption = "{unit j}",
     .flags = kNoTabStop,
     .repeat = kMatrix},

    {.name = "STATE_{k}", .kind = Indicator, .parent = "DEV_{k}", .rect = {16, 672, 13, 13}},
    {.name = "Labstate_{k}",
     .kind = Label,
     .parent = "DEV_{k}",
     .rect = {34, 672},
     .caption = "Норма/Неисправность"},
};

constexpr RadioGroupRow kCommonRadioGroups[] = {
    {{"NOPAR", "ODD", "EVEN"}, 3, Only::All},
    {{"RadioButton1", "RadioButton2", "RadioButton3"}, 3, Only::All},
};

constexpr RadioGroupRow kUnitRadioGroups[] = {
    {{"ONE_{k}", "TWO_{k}", nullptr}, 2, Only::All},
    {{"R_{k}", "NZ_{k}", "NO_{k}"}, 3, Only::All},
    {{"CSR", "CSNZ", "CSNO"}, 3, Only::Master},
};

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
    explicit Builder(QWidget* area) : area_(area) {}

    void Build(std::span<const ControlRow> rows, int unit) {
        for (const ControlRow& row : rows) {
            if (!Applies(row.only, unit)) continue;
            for (int i = 0; i < row.repeat.count; ++i)
                Create(row, unit, i);
        }
    }

    void MakeRadioGroups(std::span<const RadioGroupRow> rows, int unit,
                         std::array<QButtonGroup*, 3>& groups) {
        int n = 0;
        for (const RadioGroupRow& row : rows) {
            if (!Applies(row.only, unit)) continue;
            auto* first = Find<QRadioButton>(Expand(row.buttons[0], unit, 0));
            auto* group = new QButtonGroup(first->parentWidget());
            group->setExclusive(true);
            for (int id = 0; id < row.count; ++id)
                group->addButton(Find<QRadioButton>(Expand(row.buttons[id], unit, 0)), id);
            groups[n++] = group;
        }
    }

    template <typename T> T* Find(const QString& name) const {
        T* widget = qobject_cast<T*>(named_.value(name));
        if (widget == nullptr)
            qFatal("window control %s is missing or of another kind", qPrintable(name));
        return widget;
    }

    template <typename T> T* Find(const char* pattern, int unit, int j = 0) const {
        return Find<T>(Expand(pattern, unit, j));
    }

  private:
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
    QHash<QString, QWidget*> named_;
};

} // namespace

std::span<const ControlRow> CommonPanelRows() {
    return kCommonRows;
}
std::span<const ControlRow> UnitPanelRows() {
    return kUnitRows;
}
std::span<const RadioGroupRow> CommonRadioGroups() {
    return kCommonRadioGroups;
}
std::span<const RadioGroupRow> UnitRadioGroups() {
    return kUnitRadioGroups;
}

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
        add(kCommonRows, 0);
        for (int k = 0; k < kUnitPanels; ++k)
            add(kUnitRows, k);
        return all;
    }();
    const auto found = described.constFind(name);
    return found == described.cend() ? nullptr : &*found;
}

WindowWidgets BuildWindow(QWidget* area) {
    Builder builder(area);
    WindowWidgets w;

    builder.Build(kCommonRows, 0);
    std::array<QButtonGroup*, 3> commonGroups{};
    builder.MakeRadioGroups(kCommonRadioGroups, 0, commonGroups);
    CommonWidgets& c = w.ctrl;
    c.CTRL = builder.Find<TPanel>("CTRL", 0);
    c.MIN_CTRL = builder.Find<TFoldLabel>("MIN_CTRL", 0);
    c.CTRL_NAME = builder.Find<QLabel>("CTRL_NAME", 0);
    c.PUSK = builder.Find<TIndicator>("PUSK", 0);
    c.GO_BUT = builder.Find<QPushButton>("GO_BUT", 0);
    c.ST_BUT = builder.Find<QPushButton>("ST_BUT", 0);
    c.RES_BUT = builder.Find<QPushButton>("RES_BUT", 0);
    c.RESTORE = builder.Find<QPushButton>("RESTORE", 0);
    c.PANEL = builder.Find<TDropList>("PANEL", 0);
    c.ADR = builder.Find<TEditField>("ADR", 0);
    c.FIND = builder.Find<QPushButton>("FIND", 0);
    c.SPD = builder.Find<TDropList>("SPD", 0);
    c.DEL = builder.Find<TEditField>("DEL", 0);
    c.parity = commonGroups[0];
    c.parityButtons = {builder.Find<QRadioButton>("NOPAR", 0), builder.Find<QRadioButton>("ODD", 0),
                       builder.Find<QRadioButton>("EVEN", 0)};
    c.VER = builder.Find<QLabel>("VER", 0);
    c.COM = builder.Find<TDropList>("COM", 0);
    c.SENDADR = builder.Find<TEditField>("SENDADR", 0);
    c.PCSPD = builder.Find<TDropList>("PCSPD", 0);
    for (int i = 0; i < 3; ++i)
        c.RadioButton[i] = builder.Find<QRadioButton>("RadioButton{j}", 0, i + 1);
    c.ONLINE = builder.Find<TIndicator>("ONLINE", 0);

    for (int k = 0; k < kUnitPanels; ++k) {
        builder.Build(kUnitRows, k);
        std::array<QButtonGroup*, 3> groups{};
        builder.MakeRadioGroups(kUnitRadioGroups, k, groups);
        UnitWidgets& u = w.unit[k];
        u.DEV = builder.Find<TPanel>("DEV_{k}", k);
        u.MIN = builder.Find<TFoldLabel>("MIN_{k}", k);
        u.NAME = builder.Find<QLabel>("NAME_{k}", k);
        u.Ut = builder.Find<TDropList>("Ut_{k}", k);
        u.drives = groups[0];
        u.ONE = builder.Find<QRadioButton>("ONE_{k}", k);
        u.TWO = builder.Find<QRadioButton>("TWO_{k}", k);
        u.Cd = builder.Find<QCheckBox>("Cd_{k}", k);
        u.contact = groups[1];
        u.contactButtons = {builder.Find<QRadioButton>("R_{k}", k),
                            builder.Find<QRadioButton>("NZ_{k}", k),
                            builder.Find<QRadioButton>("NO_{k}", k)};
        for (int j = 0; j < 4; ++j)
            u.O[j] = builder.Find<QCheckBox>("O{j}_{k}", k, j + 1);
        u.delay = {builder.Find<TEditField>("TD1_{k}", k), builder.Find<TEditField>("TP1_{k}", k),
                   builder.Find<TEditField>("TD2_{k}", k), builder.Find<TEditField>("TP2_{k}", k)};
        for (int j = 0; j < 2; ++j)
            u.OUT[j] = builder.Find<TIndicator>("OUT{j}_{k}", k, j + 1);
        for (int j = 0; j < 5; ++j)
            u.IN[j] = builder.Find<TIndicator>("IN{j}_{k}", k, j + 1);
        u.STATE = builder.Find<TIndicator>("STATE_{k}", k);
        for (int j = 0; j < 10; ++j) {
            u.FIN[j] = builder.Find<QCheckBox>("FIN{j}_{k}", k, j);
            u.BIN[j] = builder.Find<QCheckBox>("BIN{j}_{k}", k, j);
        }
        u.FINA = builder.Find<QCheckBox>("FINA_{k}", k);
        if (k == 0) {
            MasterWidgets& m = w.master;
            m.csContact = groups[2];
            m.csButtons = {builder.Find<QRadioButton>("CSR", 0),
                           builder.Find<QRadioButton>("CSNZ", 0),
                           builder.Find<QRadioButton>("CSNO", 0)};
            for (int j = 0; j < 4; ++j)
                m.RELAY[j] = builder.Find<TIndicator>("RELAY{j}", 0, j + 1);
            m.CS1 = builder.Find<TIndicator>("CS1", 0);
            m.CS2 = builder.Find<TIndicator>("CS2", 0);
            m.CU1 = builder.Find<TIndicator>("CU1", 0);
            m.CU2 = builder.Find<TIndicator>("CU2", 0);
        }
    }
    return w;
}

} // namespace korvan
