// The window's own widgets and the background picture.
#include "Widgets.h"
#include "BackgroundImage.h"
#include "StationLook.h"

#include <QFile>
#include <QGroupBox>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvan;

namespace {

TEST(Indicator, PaintsItsColourWithoutOutlineAndReportsMouseUp) {
    TIndicator indicator;
    indicator.resize(13, 13);
    QSignalSpy mouseUp(&indicator, &TIndicator::MouseUp);
    EXPECT_EQ(indicator.colour(), kGreen);
    indicator.setColour(kGrey);
    const QImage image = indicator.grab().toImage();
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, kGrey);
    EXPECT_EQ(image.pixel(12, 12) & 0xFFFFFF, kGrey);
    EXPECT_EQ(image.pixel(6, 6) & 0xFFFFFF, kGrey);

    QTest::mouseClick(&indicator, Qt::RightButton);
    EXPECT_EQ(mouseUp.count(), 1);
}

TEST(Panel, OnlyAClickOnItsOwnSurfaceCounts) {
    TPanel panel;
    panel.resize(200, 200);
    auto* group = new QGroupBox("Привод", &panel);
    group->setGeometry(50, 50, 100, 100);
    QSignalSpy click(&panel, &TPanel::Click);

    QTest::mouseClick(group, Qt::LeftButton, {},
                      {40, 60}); // ignored by the group, not a panel click
    EXPECT_EQ(click.count(), 0);
    QTest::mouseClick(&panel, Qt::RightButton, {}, {10, 10});
    EXPECT_EQ(click.count(), 0);
    QTest::mouseClick(&panel, Qt::LeftButton, {}, {10, 10});
    EXPECT_EQ(click.count(), 1);
}

TEST(EditField, LimitsTypingButNotValuesSetFromCode) {
    TEditField edit;
    edit.SetTypedLengthLimit(3);
    edit.setText("1");
    edit.setCursorPosition(1);
    QTest::keyClicks(&edit, "2345");
    EXPECT_EQ(edit.text(), "123");
    edit.setText("65535");
    EXPECT_EQ(edit.text(), "65535");
    QTest::keyClick(&edit, Qt::Key_7);
    EXPECT_EQ(edit.text(), "65535");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "6553");
}

// Dark pixels of an edit field showing `text`, caret at the start or the end.
int InkOf(int width, const QString& text, bool caretAtEnd) {
    TEditField edit;
    edit.setFont(StationFont());
    edit.resize(width, 13);
    edit.setText(text);
    edit.setCursorPosition(caretAtEnd ? static_cast<int>(text.size()) : 0);
    const QImage image = edit.grab().toImage();
    int ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += qGray(image.pixel(x, y)) < 128;
    return ink;
}

TEST(EditField, ThreeDigitsFitTheTwentyPixelDelayField) {
    const int whole = InkOf(80, "888", false);
    ASSERT_GT(whole, 20);
    EXPECT_EQ(InkOf(20, "888", false), whole);
    EXPECT_EQ(InkOf(20, "888", true), whole);
}

// A value wider than its field is drawn narrower, never cut to a different number, and its full
// text is in the tooltip; once it fits again, the field looks and reads as before.
TEST(EditField, WideValuesAreNarrowedNotCut) {
    EXPECT_NE(InkOf(20, "1000", false), InkOf(20, "100", false));
    EXPECT_NE(InkOf(20, "65535", false), InkOf(20, "655", false));
    TEditField edit;
    edit.setFont(StationFont());
    edit.resize(20, 13);
    for (const char* text : {"1000", "65535", "888", "1000"}) {
        edit.setText(text);
        const bool fits = QString(text).size() <= 3;
        EXPECT_EQ(edit.TextStretch() == 100, fits) << text;
        EXPECT_LE(edit.fontMetrics().horizontalAdvance(text), 20 - 2) << text;
        EXPECT_EQ(edit.toolTip(), fits ? QString() : QString(text)) << text;
        EXPECT_EQ(edit.text(), text);
    }
}

// Leaving the field finishes an entry like Enter does; the window's value set meanwhile waits.
TEST(EditField, LeavingTheFieldFinishesTheEntry) {
    QWidget window;
    auto* edit = new TEditField(&window);
    auto* other = new TEditField(&window);
    other->move(0, 30);
    edit->setText("5");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QSignalSpy taken(edit, &TEditField::EntryTaken);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "42");
    edit->ShowValue("6"); // a poll meanwhile
    EXPECT_EQ(edit->text(), "42");
    EXPECT_EQ(edit->Value(), "6");
    other->setFocus();
    EXPECT_EQ(taken.count(), 1);
    EXPECT_EQ(edit->Value(), "42");
    EXPECT_FALSE(edit->Editing());
}

TEST(Background, BuiltInPictureDecodesToItsSizeAndIsDark) {
    const QImage picture = LoadBackgroundPicture();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(2560, 1360));
    qint64 sum = 0;
    for (int y = 0; y < picture.height(); y += 17)
        for (int x = 0; x < picture.width(); x += 17)
            sum += qGray(picture.pixel(x, y));
    const qint64 samples = ((picture.height() + 16) / 17) * ((picture.width() + 16) / 17);
    EXPECT_LT(sum / samples, 70);
    EXPECT_GT(sum / samples, 5);
}

TEST(Background, BrokenDataGivesNoPictureInsteadOfEndingTheProgram) {
    const unsigned char garbage[] = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    EXPECT_TRUE(DecodeJpeg(garbage, sizeof garbage).isNull());
    EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());

    QFile file(":/korvan/background.jpg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    // A picture cut short still decodes to its full size; the missing part is filled in.
    const QImage half = DecodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size() / 2));
    EXPECT_EQ(half.size(), QSize(2560, 1360));
    // Only the header: no picture.
    EXPECT_TRUE(DecodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()), 2).isNull());
}

} // namespace
