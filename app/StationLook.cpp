#include "StationLook.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace korvan {

namespace {

// Enough for every caption of the window with room for changing ones (port names, versions).
constexpr qsizetype kCacheLimit = 1024;

bool IsMark(QStyle::PrimitiveElement element) {
    return element == QStyle::PE_IndicatorCheckBox || element == QStyle::PE_IndicatorRadioButton;
}

} // namespace

QFont StationFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

size_t qHash(const StationStyle::TextKey& key, size_t seed) noexcept {
    return qHashMulti(seed, key.font, key.text, key.colour);
}

size_t qHash(const StationStyle::MarkKey& key, size_t seed) noexcept {
    return qHashMulti(seed, key.element, key.state, key.size.width(), key.size.height(),
                      key.palette);
}

StationStyle::StationStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QRect StationStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                   SubControl sub, const QWidget* widget) const {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr)
        return QProxyStyle::subControlRect(control, option, sub, widget);
    const int textHeight = box->fontMetrics.height();
    const QRect& r = box->rect;
    switch (sub) {
    case SC_GroupBoxLabel: {
        if (box->text.isEmpty()) return {};
        // The same caption that drawComplexControl draws, so it is measured once.
        const int textWidth =
            widget != nullptr
                ? static_cast<int>(std::ceil(RenderedText(box->text, widget->font(),
                                                          box->palette.windowText().color().rgba())
                                                 .width))
                : box->fontMetrics.horizontalAdvance(box->text);
        const int width = textWidth + 2 * kTitlePadding;
        return {r.left() + kTitleIndent, r.top(), std::min(width, r.width() - kTitleIndent),
                textHeight};
    }
    case SC_GroupBoxFrame:
        return r.adjusted(0, textHeight / 2, 0, 0);
    case SC_GroupBoxContents:
        return r.adjusted(2, textHeight + 2, -2, -2);
    default:
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
}

void StationStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                      QPainter* painter, const QWidget* widget) const {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // An etched line, as the panels' group boxes have always looked: dark outer line, light inner
    // line, drawn as filled one-pixel strips.
    const QRect f = subControlRect(CC_GroupBox, box, SC_GroupBoxFrame, widget);
    const QBrush dark = box->palette.dark();
    const QBrush light = box->palette.light();
    painter->fillRect(QRect(f.left(), f.top(), f.width() - 1, 1), dark);
    painter->fillRect(QRect(f.left(), f.top(), 1, f.height() - 1), dark);
    painter->fillRect(QRect(f.left(), f.bottom() - 1, f.width() - 1, 1), dark);
    painter->fillRect(QRect(f.right() - 1, f.top(), 1, f.height() - 1), dark);
    painter->fillRect(QRect(f.left() + 1, f.top() + 1, f.width() - 3, 1), light);
    painter->fillRect(QRect(f.left() + 1, f.top() + 1, 1, f.height() - 3), light);
    painter->fillRect(QRect(f.left(), f.bottom(), f.width(), 1), light);
    painter->fillRect(QRect(f.right(), f.top(), 1, f.height()), light);

    const QRect label = subControlRect(CC_GroupBox, box, SC_GroupBoxLabel, widget);
    if (label.isEmpty()) return;
    // The caption interrupts the frame line.
    painter->fillRect(label, box->palette.window());
    drawItemText(painter, label.adjusted(kTitlePadding, 0, -kTitlePadding, 0),
                 Qt::AlignLeft | Qt::AlignVCenter | Qt::TextHideMnemonic, box->palette,
                 box->state & State_Enabled, box->text, QPalette::WindowText);
}

int StationStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                            QStyleHintReturn* returnData) const {
    if (hint == SH_ComboBox_Popup) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void StationStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                 QPainter* painter, const QWidget* widget) const {
    if (!IsMark(element) || option->rect.isEmpty() || painter->transform().isScaling()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    constexpr State kLooks = State_On | State_Off | State_NoChange | State_Sunken | State_Enabled |
                             State_MouseOver | State_HasFocus | State_Active;
    const MarkKey key{int(element), uint(option->state & kLooks), option->rect.size(),
                      option->palette.cacheKey()};
    auto found = marks_.constFind(key);
    if (found == marks_.cend()) {
        QPixmap mark(option->rect.size());
        mark.fill(Qt::transparent);
        QPainter markPainter(&mark);
        markPainter.translate(-option->rect.topLeft());
        QProxyStyle::drawPrimitive(element, option, &markPainter, widget);
        markPainter.end();
        if (marks_.size() >= kCacheLimit) marks_.clear();
        found = marks_.insert(key, mark);
    }
    painter->drawPixmap(option->rect.topLeft(), *found);
}

const StationStyle::Caption& StationStyle::RenderedText(const QString& text, const QFont& font,
                                                        QRgb colour) const {
    const TextKey key{font, text, colour};
    auto found = texts_.constFind(key);
    if (found == texts_.cend()) {
        const QFontMetricsF metrics(font);
        Caption caption;
        caption.width = metrics.horizontalAdvance(text);
        caption.height = static_cast<int>(std::ceil(metrics.height()));
        caption.image = QPixmap(static_cast<int>(std::ceil(caption.width)) + 2 * kCaptionMargin + 1,
                                caption.height);
        caption.image.fill(Qt::transparent);
        QPainter textPainter(&caption.image);
        textPainter.setFont(font);
        textPainter.setPen(QColor::fromRgba(colour));
        textPainter.drawText(QPointF(kCaptionMargin, metrics.ascent()), text);
        textPainter.end();
        if (texts_.size() >= kCacheLimit) texts_.clear();
        found = texts_.insert(key, caption);
    }
    return *found;
}

void StationStyle::drawItemText(QPainter* painter, const QRect& rect, int flags,
                                const QPalette& palette, bool enabled, const QString& text,
                                QPalette::ColorRole textRole) const {
    // One-line captions in one plain colour without mnemonics or wrapping; anything else the
    // usual way.
    constexpr int kPlain = Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask |
                           Qt::TextShowMnemonic | Qt::TextHideMnemonic | Qt::TextSingleLine |
                           Qt::TextExpandTabs | Qt::TextForceLeftToRight;
    const QBrush& brush =
        textRole != QPalette::NoRole ? palette.brush(textRole) : painter->pen().brush();
    const bool plain = enabled && (flags & ~kPlain) == 0 && !text.isEmpty() &&
                       !text.contains(u'&') && !text.contains(u'\n') && !text.contains(u'\t') &&
                       brush.style() == Qt::SolidPattern && !painter->transform().isScaling() &&
                       painter->device()->devicePixelRatio() == 1;
    if (!plain) {
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
        return;
    }
    const Caption& caption = RenderedText(text, painter->font(), brush.color().rgba());
    // A caption wider than its box would be clipped there; leave that to the usual way too.
    if (caption.width > rect.width() + 1) {
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
        return;
    }
    const Qt::Alignment align = visualAlignment(Qt::LeftToRight, Qt::Alignment(flags));
    qreal x = rect.left();
    if (align & Qt::AlignRight)
        x = rect.left() + rect.width() - caption.width;
    else if (align & Qt::AlignHCenter)
        x = rect.left() + (rect.width() - caption.width) / 2;
    int y = rect.top();
    if (align & Qt::AlignBottom)
        y = rect.top() + rect.height() - caption.height;
    else if (align & Qt::AlignVCenter)
        y = rect.top() + (rect.height() - caption.height) / 2;
    painter->drawPixmap(static_cast<int>(std::round(x)) - kCaptionMargin, y, caption.image);
}

void ApplyStationLook(QApplication& app) {
    app.setStyle(new StationStyle);
    QApplication::setFont(StationFont());
}

} // namespace korvan
