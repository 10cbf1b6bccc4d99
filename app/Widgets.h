// The window's own small controls: the coloured square indicator, the drop-down list that knows
// whether it is open, the clickable fold label, the panel that reports clicks on its own surface
// and the borderless edit field that limits only what the operator types.
#pragma once

#include "Colour.h"

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

// Pick-only list. DroppedDown() tells whether its popup is open at this moment.
class TDropList : public QComboBox {
    Q_OBJECT
  public:
    explicit TDropList(QWidget* parent = nullptr);

    bool DroppedDown() const;

  signals:
    // The popup opened or closed, whichever way it did.
    void DroppedDownChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
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
class TEditField : public QLineEdit {
    Q_OBJECT
  public:
    explicit TEditField(QWidget* parent = nullptr);

    int TypedLengthLimit() const { return limit_; }
    void SetTypedLengthLimit(int limit);

    // Whether a text of this length may stand: always when set from code, and within the limit
    // or by shortening when the operator edits.
    bool MayHold(qsizetype length) const;

    // The horizontal stretch the text is drawn with, in percent (100 when it fits as it is).
    int TextStretch() const;

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void FitText();

    int limit_ = 32767;
    bool fitting_ = false;
    bool fittedTip_ = false; // the tooltip is the text, set because it did not fit
    QString fittedText_;     // the text the stretch was worked out for
    bool operatorEditing_ = false;
    qsizetype lengthBeforeEdit_ = 0;
};

} // namespace korvan
