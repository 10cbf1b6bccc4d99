// The window's own small controls: the coloured square indicator, the drop-down list that knows
// whether it is open, the clickable fold label, the panel that reports clicks on its own surface
// and the borderless edit field that limits only what the operator types.
//
// The list and the edit field tell the operator's choice from what the window shows: a list
// changes only when an item is chosen, an edit field only when an entry is finished, and neither
// is overwritten by the window while the operator is at it.
#pragma once

#include "Colour.h"

#include <functional>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace korvan {

// A filled square without an outline. Its colour is the state the logic reads back.
class TIndicator : public QWidget {
    Q_OBJECT
  public:
    explicit TIndicator(QWidget* parent = nullptr);

    Colour colour() const { return colour_; }
    void setColour(Colour colour);

  signals:
    void MouseUp();
    void ColourChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    Colour colour_ = kGreen;
};

// Pick-only list. DroppedDown() tells whether its popup is open at this moment. The operator's
// choice is `activated`; a popup closed without one leaves the list showing what the window last
// gave it.
class TDropList : public QComboBox {
    Q_OBJECT
  public:
    explicit TDropList(QWidget* parent = nullptr);

    bool DroppedDown() const;
    // The selection from the window; while the popup is open it waits until the popup closes.
    void ShowIndex(int index);
    // What the list stands for: the window's selection or the operator's last choice, also
    // while the popup is open and shows something else.
    int ShownIndex() const { return shownIndex_; }

  signals:
    // The popup opened or closed, whichever way it did, or the selection was set back after it.
    void DroppedDownChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The wheel over a closed list chooses nothing: it passes to the window, which scrolls.
    void wheelEvent(QWheelEvent* event) override;

  private:
    void SettleAfterPopup();

    int shownIndex_ = -1;
    bool chosen_ = false; // an item was chosen since the popup opened
};

// Label that reports a click (press and release on it with the left button).
class TFoldLabel : public QLabel {
    Q_OBJECT
  public:
    explicit TFoldLabel(QWidget* parent = nullptr);

  signals:
    void Click();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

// Panel without a bevel. Click is raised only for a click on the panel's own surface, not on a
// control inside it.
class TPanel : public QFrame {
    Q_OBJECT
  public:
    explicit TPanel(QWidget* parent = nullptr);

  signals:
    void Click();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

// Borderless edit field. The length limit applies to typing and pasting only: a longer value set
// from code (a delay of 1000 in a three-character field) is shown and read back in full. A text
// wider than the field is drawn in narrower letters so that every character stays in sight (a
// cut-off "1000" would read as "100"); the tooltip then shows it too.
//
// Value() is what the field stands for: the window's value, or the operator's last entry taken.
// Typing changes only the text on screen, marked by its background; Enter or leaving the field
// finishes the entry, which the entry check takes (EntryTaken) or refuses (the value comes back
// and the tooltip says why); Esc brings the value back.
class TEditField : public QLineEdit {
    Q_OBJECT
  public:
    // Why an entry is refused, or an empty text when it is taken.
    using EntryCheck = std::function<QString(const QString& entry)>;
    static constexpr QRgb kEditingBackground = 0xFFFFFFC0;

    explicit TEditField(QWidget* parent = nullptr);

    void SetEntryCheck(EntryCheck check) { check_ = std::move(check); }
    QString Value() const { return value_; }
    // The window's value; the text follows unless the operator is typing.
    void ShowValue(const QString& value);
    bool Editing() const { return editing_; }
    QString Refusal() const { return refusal_; }
    void FinishEdit();
    void CancelEdit();

    int TypedLengthLimit() const { return limit_; }
    void SetTypedLengthLimit(int limit);

    // Whether a text of this length may stand: always when set from code, and within the limit
    // or by shortening when the operator edits.
    bool MayHold(qsizetype length) const;

    // The horizontal stretch the text is drawn with, in percent (100 when it fits as it is).
    int TextStretch() const;

  signals:
    void EntryTaken(); // the operator finished an entry that changed the value

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void FitText();
    void StartEditing();
    void EndEditing();
    void ShowToolTip();

    int limit_ = 32767;
    bool fitting_ = false;
    bool stretched_ = false; // the text is drawn narrower than it is
    bool ownTip_ = false;    // the tooltip is the field's own (the text or a refusal)
    QString fittedText_;     // the text the stretch was worked out for
    bool operatorEditing_ = false;
    qsizetype lengthBeforeEdit_ = 0;
    EntryCheck check_;
    QString value_;
    QString refusal_;
    bool editing_ = false;
    QPalette paletteBeforeEdit_;
};

} // namespace korvan
