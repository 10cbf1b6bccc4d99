#include "Widgets.h"

#include <QWheelEvent>

#include <algorithm>

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QTimer>
#include <QValidator>

namespace korvan {

namespace {

QColor ToQColor(Colour colour) {
    return QColor::fromRgb(static_cast<QRgb>(colour));
}

// Every change of the text, typed, pasted, dropped or set from code, passes the validator; the
// field decides what may stand.
class LengthValidator : public QValidator {
  public:
    explicit LengthValidator(TEditField* field) : QValidator(field), field_(field) {}

    State validate(QString& input, int&) const override {
        if (input.size() <= field_->TypedLengthLimit()) return Acceptable;
        // Longer than the operator may type but allowed to stand (a value from the unit).
        return field_->MayHold(input.size()) ? Intermediate : Invalid;
    }

  private:
    const TEditField* field_;
};

} // namespace

TIndicator::TIndicator(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void TIndicator::setColour(Colour colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
    emit ColourChanged();
}

void TIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(colour_));
}

void TIndicator::mousePressEvent(QMouseEvent* event) {
    // Accepting the press makes the release come here.
    event->accept();
}

void TIndicator::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    emit MouseUp();
}

TDropList::TDropList(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    // The popup also closes without hidePopup (a click elsewhere, the window losing focus): its
    // window's own show and hide are what tell.
    view()->window()->installEventFilter(this);
    connect(this, &QComboBox::activated, this, [this](int index) {
        shownIndex_ = index;
        chosen_ = true;
    });
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!DroppedDown()) shownIndex_ = index;
    });
}

bool TDropList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view()->window() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        if (event->type() == QEvent::Show) {
            shownIndex_ = currentIndex();
            chosen_ = false;
        } else {
            // The choice, if any, is announced right after the popup hides.
            QTimer::singleShot(0, this, &TDropList::SettleAfterPopup);
        }
        emit DroppedDownChanged();
    }
    return QComboBox::eventFilter(watched, event);
}

void TDropList::ShowIndex(int index) {
    shownIndex_ = index;
    if (DroppedDown() || currentIndex() == index) return;
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
}

void TDropList::SettleAfterPopup() {
    // Closed without a choice (Esc, a click elsewhere): whatever the popup passed over is not the
    // operator's, and what the window gave meanwhile is shown now.
    if (chosen_ || DroppedDown() || currentIndex() == shownIndex_) return;
    {
        const QSignalBlocker quiet(this);
        setCurrentIndex(shownIndex_);
    }
    emit DroppedDownChanged();
}

void TDropList::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

bool TDropList::DroppedDown() const {
    // The view lives in the popup window, so it is visible exactly while the popup is open.
    return view()->isVisible();
}

TFoldLabel::TFoldLabel(QWidget* parent) : QLabel(parent) {}

void TFoldLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void TFoldLabel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) emit Click();
}

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
}

void TPanel::mousePressEvent(QMouseEvent* event) {
    // A press that a child ignored (a group box, a label) arrives here too; only the panel's own
    // surface counts.
    const QPoint pos = event->position().toPoint();
    pressed_ = event->button() == Qt::LeftButton && childAt(pos) == nullptr;
    event->accept();
}

void TPanel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    const QPoint pos = event->position().toPoint();
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(pos) &&
                       childAt(pos) == nullptr;
    pressed_ = false;
    if (click) emit Click();
}

TEditField::TEditField(QWidget* parent) : QLineEdit(parent) {
    setFrame(false);
    setValidator(new LengthValidator(this));
    connect(this, &QLineEdit::textChanged, this, &TEditField::FitText);
    // A text set from code is the field's value; the operator's typing is not, until finished.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!operatorEditing_ && !editing_) value_ = text();
    });
    connect(this, &QLineEdit::textEdited, this, &TEditField::StartEditing);
}

void TEditField::ShowValue(const QString& value) {
    value_ = value;
    if (!editing_ && text() != value) setText(value);
}

void TEditField::StartEditing() {
    if (editing_) return;
    editing_ = true;
    refusal_.clear();
    paletteBeforeEdit_ = palette();
    QPalette marked = paletteBeforeEdit_;
    marked.setColor(QPalette::Base, QColor::fromRgba(kEditingBackground));
    setPalette(marked);
    ShowToolTip();
}

void TEditField::EndEditing() {
    if (!editing_) return;
    editing_ = false;
    setPalette(paletteBeforeEdit_);
}

void TEditField::FinishEdit() {
    if (!editing_) return;
    const QString entry = text();
    EndEditing();
    if (entry == value_) return;
    const QString refusal = check_ ? check_(entry) : QString();
    if (!refusal.isEmpty()) {
        refusal_ = refusal;
        setText(value_);
        ShowToolTip();
        return;
    }
    value_ = entry;
    emit EntryTaken();
}

void TEditField::CancelEdit() {
    if (!editing_) return;
    EndEditing();
    setText(value_);
}

void TEditField::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        FinishEdit();
        event->accept();
        return;
    case Qt::Key_Escape:
        if (!editing_) break; // nothing to undo: the window may use the key
        CancelEdit();
        event->accept();
        return;
    default:
        break;
    }
    QLineEdit::keyPressEvent(event);
}

void TEditField::focusOutEvent(QFocusEvent* event) {
    // A context menu of the field takes the focus for a moment; the entry goes on.
    if (event->reason() != Qt::PopupFocusReason) FinishEdit();
    QLineEdit::focusOutEvent(event);
}

void TEditField::ShowToolTip() {
    const QString tip = !refusal_.isEmpty() ? refusal_ : stretched_ ? text() : QString();
    if (!tip.isEmpty())
        setToolTip(tip);
    else if (ownTip_)
        setToolTip(QString());
    ownTip_ = !tip.isEmpty();
}

int TEditField::TextStretch() const {
    const int stretch = font().stretch();
    return stretch == QFont::AnyStretch ? 100 : stretch;
}

void TEditField::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    FitText();
}

void TEditField::paintEvent(QPaintEvent* event) {
    // A text set with the field's signals blocked (as the window does when it shows the unit)
    // raises no textChanged: it is fitted here, before it is drawn.
    if (text() != fittedText_) FitText();
    QLineEdit::paintEvent(event);
}

void TEditField::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitText();
}

void TEditField::FitText() {
    // What the line edit draws beside the text: three digits just fit the 20-pixel delay fields.
    constexpr int kInnerMargins = 2;
    constexpr int kNarrowest = 40; // percent; below that the digits run into each other
    if (fitting_) return;
    fitting_ = true;
    fittedText_ = text();
    QFont wide = font();
    wide.setStretch(100);
    const int room = contentsRect().width() - kInnerMargins;
    const int needed = QFontMetrics(wide).horizontalAdvance(text());
    int stretch = 100;
    if (needed > room && needed > 0) stretch = std::max(kNarrowest, 100 * room / needed);
    // Narrowed glyphs round their advances: step down until the text really fits.
    QFont narrow = wide;
    for (; stretch > kNarrowest; --stretch) {
        narrow.setStretch(stretch);
        if (QFontMetrics(narrow).horizontalAdvance(text()) <= room) break;
    }
    if (stretch != TextStretch()) {
        QFont fitted = font();
        fitted.setStretch(stretch);
        setFont(fitted);
    }
    stretched_ = stretch < 100;
    ShowToolTip();
    fitting_ = false;
}

void TEditField::SetTypedLengthLimit(int limit) {
    limit_ = limit;
}

bool TEditField::MayHold(qsizetype length) const {
    return length <= limit_ || !operatorEditing_ || length <= lengthBeforeEdit_;
}

bool TEditField::event(QEvent* event) {
    // Every edit by the operator (keys, input method, paste by shortcut, menu or middle button,
    // drop) happens while the field handles one of its own events; code sets the text from outside.
    if (operatorEditing_) return QLineEdit::event(event);
    operatorEditing_ = true;
    lengthBeforeEdit_ = text().size();
    const bool handled = QLineEdit::event(event);
    operatorEditing_ = false;
    return handled;
}

} // namespace korvan
