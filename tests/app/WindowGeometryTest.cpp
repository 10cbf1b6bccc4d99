// The whole window against the layout it is drawn for: names, parents, rectangles, captions,
// hints, items, start values, tab stops, and no caption cut off at this geometry.
#include "monitor_code_3.h"

#include <QComboBox>
#include <QStyleOption>

#include <gtest/gtest.h>

using namespace korvan;

namespace {

QString Title(int unit) {
    return unit == 0 ? "ЗОКТ-01" : QString("ЗОКТ-МР №%1").arg(unit);
}

class WindowGeometry : public testing::Test {
  protected:
    template <typename T = QWidget> T* Get(const QString& name) const {
        T* widget = win.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }

    // The control exists with this parent and this rectangle (width/height 0: not checked).
    void Expect(const QString& name, const QString& parent, QRect rect) const {
        QWidget* widget = Get(name);
        if (widget == nullptr) return;
        EXPECT_EQ(widget->parentWidget()->objectName(), parent) << name.toStdString();
        QRect actual = widget->geometry();
        if (rect.width() == 0) actual.setSize({0, 0});
        EXPECT_EQ(actual, rect) << name.toStdString();
    }

    TWIN win;
};

TEST_F(WindowGeometry, CommonPanel) {
    Expect("CTRL_NAME", "CTRL", {48, 8, 0, 0});
    Expect("MIN_CTRL", "CTRL", {117, 0, 0, 0});
    Expect("CMD", "CTRL", {8, 24, 113, 161});
    Expect("PU", "CTRL", {8, 192, 113, 49});
    Expect("NET", "CTRL", {8, 248, 113, 121});
    Expect("VERSION", "CTRL", {8, 376, 113, 49});
    Expect("INTERCOM", "CTRL", {8, 432, 113, 121});
    Expect("ONLINE", "CTRL", {16, 672, 13, 13});
    for (const char* button : {"GO_BUT", "ST_BUT", "RES_BUT", "RESTORE"})
        EXPECT_EQ(Get(button)->parentWidget()->objectName(), "CMD");
    EXPECT_EQ(Get("RESTORE")->size(), QSize(96, 23));
    EXPECT_EQ(Get("FIND")->size(), QSize(23, 23));
    EXPECT_EQ(Get("PUSK")->parentWidget()->objectName(), "CMD");
    EXPECT_EQ(Get("PANEL")->parentWidget()->objectName(), "PU");
    for (const char* name : {"ADR", "FIND", "SPD", "DEL", "EVEN", "ODD", "NOPAR"})
        EXPECT_EQ(Get(name)->parentWidget()->objectName(), "NET") << name;
    EXPECT_EQ(Get("VER")->parentWidget()->objectName(), "VERSION");
    for (const char* name : {"COM", "SENDADR", "PCSPD", "Labpcadr", "Labpcspd", "RadioButton3"})
        EXPECT_EQ(Get(name)->parentWidget()->objectName(), "INTERCOM") << name;

    EXPECT_EQ(Get<QLabel>("CTRL_NAME")->text(), "Общие");
    EXPECT_EQ(Get<QPushButton>("GO_BUT")->toolTip(), "Ком. сигнал ПУСК");
    EXPECT_EQ(Get<QPushButton>("RESTORE")->text(), "Восст. зав. настр.");
    EXPECT_EQ(Get<QPushButton>("RESTORE")->toolTip(), "Восстановление заводских настроек ЗОКТ");
    EXPECT_EQ(Get<QPushButton>("FIND")->toolTip(), "Определение подключенных модулей");
    EXPECT_EQ(Get<QLabel>("MIN_CTRL")->toolTip(), "Свернуть");

    auto* speed = Get<TDropList>("PCSPD");
    ASSERT_EQ(speed->count(), 7);
    EXPECT_EQ(speed->itemText(0), "1200");
    EXPECT_EQ(speed->itemText(6), "57600");
    EXPECT_EQ(speed->currentText(), "9600");
    EXPECT_EQ(Get<TEditField>("SENDADR")->text(), "1");
    EXPECT_EQ(Get<TEditField>("SENDADR")->TypedLengthLimit(), 3);
    EXPECT_EQ(Get<TEditField>("ADR")->text(), "0");
    EXPECT_EQ(Get<TEditField>("DEL")->TypedLengthLimit(), 4);
    // The port list of this test machine holds only the way to a network port.
    EXPECT_EQ(Get<TDropList>("COM")->count(), 1);
    EXPECT_EQ(Get<TDropList>("COM")->currentIndex(), -1);
    EXPECT_EQ(Get<TDropList>("PANEL")->count(), 4);
    EXPECT_EQ(Get<TDropList>("PANEL")->currentIndex(), -1);
    EXPECT_EQ(Get<TDropList>("SPD")->currentIndex(), -1);
    EXPECT_EQ(Get<TIndicator>("ONLINE")->colour(), kYellow);
    EXPECT_EQ(Get<TIndicator>("PUSK")->colour(), kGrey); // the link-lost look until a reply
    for (const char* hidden :
         {"EVEN", "ODD", "NOPAR", "RadioButton1", "RadioButton2", "RadioButton3"})
        EXPECT_TRUE(Get(hidden)->isHidden()) << hidden;
}

TEST_F(WindowGeometry, UnitPanelsAreAlikeWithTheMastersExtras) {
    for (int k = 0; k < kUnitPanels; ++k) {
        const QString s = QString::number(k);
        const QString dev = "DEV_" + s, drv = "DRV_" + s, inputs = "INPUTS_" + s;
        const QString relays = "RELAYS_" + s;
        const QString start = QString("GroupBox%1").arg(k + 1);
        const QString block = QString("GroupBox%1").arg(k + 11);
        Expect("NAME_" + s, dev, {k == 0 ? 104 : 96, 8, 0, 0});
        EXPECT_EQ(Get<QLabel>("NAME_" + s)->text(), Title(k));
        Expect("MIN_" + s, dev, {245, 0, 0, 0});
        Expect(drv, dev, {8, 24, 242, 137});
        Expect("Ut_" + s, drv, {9, 16, 224, 19});
        Expect("ONE_" + s, drv, {8, 40, 0, 0});
        Expect("TWO_" + s, drv, {8, 56, 0, 0});
        Expect("Cd_" + s, drv, {112, 40, 0, 0});
        const char* delays[] = {"TD1_", "TP1_", "TD2_", "TP2_"};
        const char* labels[] = {"Labtd1_", "Labtp1_", "Labtd2_", "Labtp2_"};
        for (int i = 0; i < 4; ++i) {
            Expect(delays[i] + s, drv, {112, 64 + 16 * i, 20, 13});
            Expect(labels[i] + s, drv, {138, 64 + 16 * i, 0, 0});
        }
        for (int j = 1; j <= 2; ++j) {
            Expect(QString("OUT%1_%2").arg(j).arg(k), drv, {8, 80 + 16 * j, 13, 13});
            Expect(QString("Labout%1_%2").arg(j).arg(k), drv, {26, 80 + 16 * j, 0, 0});
        }
        Expect(inputs, dev, {8, 168, k == 0 ? 129 : 241, 161});
        Expect("R_" + s, inputs, {8, 16, 0, 0});
        Expect("NZ_" + s, inputs, {8, 32, 0, 0});
        Expect("NO_" + s, inputs, {8, 48, 0, 0});
        for (int j = 1; j <= 5; ++j) {
            Expect(QString("IN%1_%2").arg(j).arg(k), inputs, {8, 56 + 16 * j, 13, 13});
            Expect(QString("Labin%1_%2").arg(j).arg(k), inputs, {26, 56 + 16 * j, 0, 0});
        }
        Expect(relays, dev, {8, 336, 241, 89});
        for (int j = 1; j <= 4; ++j)
            Expect(QString("O%1_%2").arg(j).arg(k), relays, {8, 16 * j, 0, 0});
        Expect(start, dev, {8, 432, 241, 121});
        Expect("FINA_" + s, start, {8, 16, 217, 17});
        Expect(block, dev, {8, 560, 241, 105});
        for (int j = 0; j < 10; ++j) {
            const int left = j < 5 ? 8 : 128;
            Expect(QString("FIN%1_%2").arg(j).arg(k), start, {left, 32 + 16 * (j % 5), 97, 17});
            Expect(QString("BIN%1_%2").arg(j).arg(k), block, {left, 16 + 16 * (j % 5), 97, 17});
            EXPECT_EQ(Get<QCheckBox>(QString("FIN%1_%2").arg(j).arg(k))->text(), Title(j));
        }
        Expect("STATE_" + s, dev, {16, 672, 13, 13});
        Expect("Labstate_" + s, dev, {34, 672, 0, 0});

        auto* drive = Get<TDropList>("Ut_" + s);
        EXPECT_EQ(drive->count(), 14);
        EXPECT_EQ(drive->itemText(9), "011 фрамуга");
        EXPECT_EQ(drive->currentIndex(), -1);
        EXPECT_EQ(Get<TEditField>("TP2_" + s)->TypedLengthLimit(), 5); // up to 65535
        EXPECT_EQ(Get<TEditField>("TD1_" + s)->text(), "");
        // Not tab stops, still reachable by the mouse.
        for (QString name : {"Ut_", "TD1_", "Cd_", "O3_", "FIN7_", "BIN0_", "FINA_"})
            EXPECT_EQ(Get(name + s)->focusPolicy(), Qt::ClickFocus) << (name + s).toStdString();
        EXPECT_EQ(Get("TWO_" + s)->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    }

    Expect("CS", "DEV_0", {144, 168, 105, 161});
    for (const char* name : {"CSR", "CSNZ", "CSNO", "CS1", "CS2", "CU1", "CU2"})
        EXPECT_EQ(Get(name)->parentWidget()->objectName(), "CS") << name;
    for (int j = 1; j <= 4; ++j) {
        // Each relay indicator on the row of its event box, to the right of it.
        QWidget* relay = Get(QString("RELAY%1").arg(j));
        QWidget* row = Get(QString("O%1_0").arg(j));
        EXPECT_EQ(relay->parentWidget()->objectName(), "RELAYS_0");
        EXPECT_EQ(relay->size(), QSize(13, 13));
        EXPECT_GT(relay->x(), row->geometry().right());
        EXPECT_EQ(relay->geometry().center().y(), row->geometry().center().y());
    }
    EXPECT_EQ(win.findChild<QWidget*>("CS", Qt::FindDirectChildrenOnly), nullptr);
    EXPECT_EQ(win.findChildren<QWidget*>("CS").size(), 1);
    EXPECT_EQ(win.findChildren<QWidget*>("RELAY1").size(), 1);
}

// Check and radio boxes stand in rows 16 pixels apart but are 17 high: boxes of neighbouring rows
// may share that one pixel row.
bool MayTouch(const QWidget* a, const QWidget* b) {
    auto box = [](const QWidget* w) {
        return qobject_cast<const QAbstractButton*>(w) && !qobject_cast<const QPushButton*>(w);
    };
    const QRect overlap = a->geometry() & b->geometry();
    return box(a) && box(b) && a->y() != b->y() && overlap.height() <= 1;
}

TEST_F(WindowGeometry, EveryControlInsideItsParentAndNoSiblingsOverlap) {
    int checked = 0;
    for (int i = 0; i < layout::kPanelCount; ++i) {
        QWidget* panel = win.Widgets.Panel(i);
        for (QWidget* widget : panel->findChildren<QWidget*>()) {
            // A list's popup is a window of its own, made once the list has items.
            if (widget->isWindow() || widget->window()->parentWidget() != nullptr) continue;
            ++checked;
            EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry()))
                << widget->objectName().toStdString();
            EXPECT_FALSE(widget->objectName().isEmpty());
            if (widget->isHidden()) continue;
            for (QObject* other : widget->parentWidget()->children()) {
                auto* sibling = qobject_cast<QWidget*>(other);
                if (sibling == nullptr || sibling == widget || sibling->isHidden()) continue;
                EXPECT_TRUE(!widget->geometry().intersects(sibling->geometry()) ||
                            MayTouch(widget, sibling))
                    << widget->objectName().toStdString() << " overlaps "
                    << sibling->objectName().toStdString();
            }
        }
    }
    EXPECT_GE(checked, 680);
}

TEST_F(WindowGeometry, NoCaptionListItemOrLabelIsCutOff) {
    const QFontMetrics fm(win.font());
    EXPECT_EQ(QFontInfo(win.font()).pixelSize(), 11);
    win.Widgets.ctrl.VER->setText("1.xx или 2.xx");
    int checked = 0;
    for (QWidget* widget : win.Client()->findChildren<QWidget*>()) {
        const std::string name = widget->objectName().toStdString();
        QStyle* style = widget->style();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_LE(label->sizeHint().width(), label->width()) << name;
            EXPECT_LE(fm.height(), label->height()) << name;
        } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect text = style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            EXPECT_LE(fm.horizontalAdvance(box->text()), text.width()) << name;
            EXPECT_LE(fm.height(), text.height()) << name;
        } else if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(radio);
            option.text = radio->text();
            const QRect text =
                style->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
            EXPECT_LE(fm.horizontalAdvance(radio->text()), text.width()) << name;
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect text =
                style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            EXPECT_LE(fm.horizontalAdvance(button->text()), text.width()) << name;
        } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
            QStyleOptionComboBox option;
            option.initFrom(list);
            const QRect field = style->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, list);
            // Port names are the machine's and the operator's (a network endpoint), of any length.
            for (int i = 0; i < list->count() && name != "COM"; ++i)
                EXPECT_LE(fm.horizontalAdvance(list->itemText(i)), field.width()) << name;
            EXPECT_LE(fm.height(), field.height()) << name;
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect title = style->subControlRect(QStyle::CC_GroupBox, &option,
                                                      QStyle::SC_GroupBoxLabel, group);
            EXPECT_LE(fm.horizontalAdvance(group->title()), title.width()) << name;
            EXPECT_LE(title.right(), group->rect().right()) << name;
        } else if (auto* edit = qobject_cast<TEditField*>(widget)) {
            // The widest number the operator can type, drawn narrower where it must be; the
            // field scrolls its text within a 2-pixel inner margin, so that much of the edge
            // may be used.
            const QString widest = QString("9999999").left(edit->TypedLengthLimit());
            const QString before = edit->text();
            edit->setText(widest);
            edit->grab();
            EXPECT_LE(fm.horizontalAdvance(widest) * edit->TextStretch() / 100, edit->width() - 2)
                << name;
            edit->setText(before);
        } else {
            continue;
        }
        ++checked;
    }
    EXPECT_GE(checked, 590);
}

} // namespace
