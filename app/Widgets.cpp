#include "Widgets.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
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
}

bool TDropList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view()->window() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        emit DroppedDownChanged();
    }
    return QComboBox::eventFilter(watched, event);
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
    if (stretch < 100)
        setToolTip(text());
    else if (fittedTip_)
        setToolTip(QString());
    fittedTip_ = stretch < 100;
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
