// Every control of the window, found by its object name, is changed the way the operator would
// change it; exactly the register bits bound to that control may change in what the engine is
// handed, and a display-only control changes none. A swapped pair of controls fails here.
#include "Binding.h"
#include "Catalogue.h"
#include "PollEngineProbe.h"
#include "monitor_code_3.h"

#include <QButtonGroup>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace korvan;

namespace {

struct Bound {
    int reg = 0;
    std::uint16_t mask = 0; // 0: display only, nothing may change
};

QString Name(const char* stem, int k) {
    return QStringLiteral("%1_%2").arg(QLatin1String(stem)).arg(k);
}

// The bits each control stands for.
std::map<QString, Bound> Bindings() {
    std::map<QString, Bound> b;
    for (int k = 0; k < kUnitPanels; ++k) {
        const int base = 8 * k;
        b[Name("Ut", k)] = {base, 0x003F};
        b[Name("ONE", k)] = b[Name("TWO", k)] = {base, 0x0040};
        b[Name("Cd", k)] = {base, 0x0080};
        b[Name("R", k)] = b[Name("NZ", k)] = b[Name("NO", k)] = {base, 0x0300};
        for (int i = 1; i <= 4; ++i)
            b[QStringLiteral("O%1_%2").arg(i).arg(k)] = {base, std::uint16_t(1u << (9 + i))};
        const char* delays[] = {"TD1", "TP1", "TD2", "TP2"};
        for (int i = 0; i < 4; ++i)
            b[Name(delays[i], k)] = {base + 4 + i, 0xFFFF};
        b[Name("OUT1", k)] = {base + 3, 0x0001};
        b[Name("OUT2", k)] = {base + 3, 0x0002};
        for (int n = 1; n <= 5; ++n)
            b[QStringLiteral("IN%1_%2").arg(n).arg(k)] = {};
        b[Name("STATE", k)] = {};
        for (int j = 0; j < 10; ++j) {
            b[QStringLiteral("FIN%1_%2").arg(j).arg(k)] = {96 + k, std::uint16_t(1u << j)};
            b[QStringLiteral("BIN%1_%2").arg(j).arg(k)] = {106 + k, std::uint16_t(1u << j)};
        }
        b[Name("FINA", k)] = {96 + k, 0x0400};
    }
    b["CSR"] = b["CSNZ"] = b["CSNO"] = {0, 0xC000};
    for (int n = 1; n <= 4; ++n)
        b[QStringLiteral("RELAY%1").arg(n)] = {3, std::uint16_t(1u << (7 + n))};
    for (const char* name : {"CS1", "CS2", "CU1", "CU2", "PUSK", "ONLINE"})
        b[name] = {};
    // The fields that own their whole register.
    b["ADR"] = {80, 0xFFFF};
    b["SPD"] = {81, 0xFFFF};
    b["NOPAR"] = b["ODD"] = b["EVEN"] = {82, 0x00FF};
    b["DEL"] = {83, 0xFFFF};
    b["PANEL"] = {84, 0xFFFF};
    return b;
}

// A unit every control can show, with bits no control shows set wherever a register has them.
RegisterImage BaseImage() {
    RegisterImage image{};
    for (int k = 0; k < kUnitPanels; ++k) {
        SetRegisterValue(image, 8 * k, k == 0 ? 0x0001 : 0xC001);
        SetRegisterValue(image, 8 * k + 3, 0xF0FC);
        for (int i = 4; i < 8; ++i)
            SetRegisterValue(image, 8 * k + i, 5);
        SetRegisterValue(image, 96 + k, 0xF800);
        SetRegisterValue(image, 106 + k, 0xFC00);
    }
    for (auto [r, v] : {std::pair{80, 0x0107}, {81, 3}, {82, 0}, {83, 100}, {84, 1}})
        SetRegisterValue(image, r, static_cast<std::uint16_t>(v));
    return image;
}

class ControlWalk : public ::testing::Test {
  protected:
    void Show(const RegisterImage& image) {
        test::PollEngineProbe::ShowUnit(win.Link.Engine, image);
        win.Controls = WindowControls{};
        ImageToControls(image, win.Controls);
        win.PushControls();
    }
    // Through the window's own read, which skips the widgets unless one has told of a change: a
    // control whose change goes untold would read back unchanged here.
    RegisterImage ReadBack(const RegisterImage& from) {
        win.EnsureControlsCurrent();
        RegisterImage image = from;
        ControlsToImage(win.Controls, image);
        return image;
    }

    TWIN win;
};

TEST_F(ControlWalk, EachControlChangesExactlyItsOwnBits) {
    const std::map<QString, Bound> bindings = Bindings();
    // The link group's controls have no register behind them.
    const std::set<QString> linkSettings{"COM",          "PCSPD",        "SENDADR",
                                         "RadioButton1", "RadioButton2", "RadioButton3"};
    const RegisterImage base = BaseImage();
    Show(base);
    ASSERT_EQ(ReadBack(base), base) << "shown and read back untouched, the image must not move";

    std::set<QString> walked;
    for (QWidget* widget : win.findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        const bool operable =
            qobject_cast<QCheckBox*>(widget) || qobject_cast<TIndicator*>(widget) ||
            qobject_cast<TDropList*>(widget) || qobject_cast<TEditField*>(widget) ||
            qobject_cast<QRadioButton*>(widget);
        if (!operable || linkSettings.contains(name)) continue;
        SCOPED_TRACE(name.toStdString());
        const auto bound = bindings.find(name);
        ASSERT_NE(bound, bindings.end()) << "a control bound to nothing known";
        walked.insert(name);

        Show(base);
        win.EnsureControlsCurrent(); // a poll has read the window before the operator acts
        RegisterImage before = base;
        if (auto* radio = qobject_cast<QRadioButton*>(widget); radio && radio->isChecked()) {
            // Selecting the selected button is no change: start from another one of its group.
            for (QAbstractButton* other : radio->group()->buttons())
                if (other != radio) {
                    other->click();
                    break;
                }
            before = win.Link.Engine.WantedImage();
        }
        if (auto* indicator = qobject_cast<TIndicator*>(widget))
            QTest::mouseClick(indicator, Qt::LeftButton);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->click();
        else if (auto* list = qobject_cast<TDropList*>(widget)) {
            const int next = (list->currentIndex() + 1) % list->count();
            list->setCurrentIndex(next);
            emit list->activated(next); // as a click or a key on an item does
        } else if (auto* edit = qobject_cast<TEditField*>(widget)) {
            edit->selectAll();
            QTest::keyClicks(edit, "9");
            QTest::keyClick(edit, Qt::Key_Return); // an entry counts once it is finished
        }
        const RegisterImage after = win.Link.Engine.WantedImage();

        for (int r = 0; r < kRegisterCount; ++r) {
            const std::uint16_t changed = RegisterValue(before, r) ^ RegisterValue(after, r);
            if (r != bound->second.reg || bound->second.mask == 0)
                EXPECT_EQ(changed, 0) << "register " << r;
            else {
                EXPECT_NE(changed, 0) << "register " << r;
                EXPECT_EQ(changed & ~bound->second.mask, 0) << "register " << r;
            }
        }
    }
    EXPECT_EQ(walked.size(), bindings.size());
}

// The catalogue finds a setting's bits through the binding and its words through the control
// state: both must agree with the window itself. Every setting the walk knows is in it, with
// exactly the bits the walk found, and shows the words its widget shows.
TEST_F(ControlWalk, CatalogueMatchesTheWindowsBitsAndWords) {
    const std::map<QString, Bound> bindings = Bindings();
    const RegisterImage base = BaseImage();
    Show(base);
    WindowControls shown;
    ShownControls(base, shown);

    std::set<QString> catalogued;
    for (const CatalogueItem& item : CatalogueItems()) {
        SCOPED_TRACE(item.name.toStdString());
        QWidget* widget = win.findChild<QWidget*>(item.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_FALSE(item.caption.isEmpty());
        const QString words = ItemWords(item, shown);
        if (item.kind == ItemKind::Indicator) {
            EXPECT_TRUE(item.bits.empty());
            EXPECT_FALSE(words.isEmpty()) << "every unit of the base image is in use";
            continue;
        }
        catalogued.insert(item.name);
        const Bound bound = bindings.at(item.name);
        ASSERT_EQ(item.bits.size(), 1u);
        EXPECT_EQ(item.bits[0].reg, bound.reg);
        EXPECT_EQ(item.bits[0].mask, bound.mask);

        if (auto* list = qobject_cast<TDropList*>(widget))
            EXPECT_EQ(words, list->currentText());
        else if (auto* radio = qobject_cast<QRadioButton*>(widget))
            EXPECT_EQ(words, radio->group()->checkedButton()->text());
        else if (auto* check = qobject_cast<QCheckBox*>(widget))
            EXPECT_EQ(words == QStringLiteral("отмечен"), check->isChecked());
        else if (auto* edit = qobject_cast<TEditField*>(widget))
            EXPECT_EQ(words, edit->text());
        else
            ADD_FAILURE() << "a setting on a control that is not a setting";
    }
    for (const auto& [name, bound] : bindings) {
        const bool secondButton =
            name.startsWith(QStringLiteral("TWO_")) || name.startsWith(QStringLiteral("NZ_")) ||
            name.startsWith(QStringLiteral("NO_")) || name == "CSNZ" || name == "CSNO";
        const bool hidden = name == "NOPAR" || name == "ODD" || name == "EVEN";
        const bool indicator = name.startsWith(QStringLiteral("OUT")) || name.startsWith("RELAY");
        if (bound.mask == 0 || secondButton || hidden || indicator) continue;
        EXPECT_TRUE(catalogued.contains(name)) << name.toStdString() << " is not catalogued";
    }
}

} // namespace
