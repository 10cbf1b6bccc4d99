// Style and font the window is drawn for: pixel geometry laid out for an 11-pixel sans-serif font.
#pragma once

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QProxyStyle>

class QApplication;

namespace korvan {

QFont StationFont();

// Fusion, with group boxes drawn the way the layout expects them: the caption set into the top
// edge of the frame, 8 pixels from the left, so that a control 16 pixels below the box's top
// clears both.
//
// The window shows several hundred captions and boxes that rarely change, so captions are drawn
// from shaped text kept between paints and the check and radio marks from pixmaps kept per state;
// a full repaint then costs a few milliseconds.
class StationStyle : public QProxyStyle {
  public:
    static constexpr int kTitleIndent = 8;
    static constexpr int kTitlePadding = 2;

    StationStyle();

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    // Lists drop down below their box and show the number of rows they are given.
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette,
                      bool enabled, const QString& text,
                      QPalette::ColorRole textRole = QPalette::NoRole) const override;

    struct TextKey {
        QFont font;
        QString text;
        QRgb colour;
        bool operator==(const TextKey&) const = default;
    };
    // A caption drawn once: `image` holds the text with its left edge at `kCaptionMargin`.
    struct Caption {
        QPixmap image;
        qreal width;
        int height;
    };
    static constexpr int kCaptionMargin = 1;
    struct MarkKey {
        int element;
        uint state;
        QSize size;
        qint64 palette;
        bool operator==(const MarkKey&) const = default;
    };

  private:
    const Caption& RenderedText(const QString& text, const QFont& font, QRgb colour) const;

    mutable QHash<TextKey, Caption> texts_;
    mutable QHash<MarkKey, QPixmap> marks_;
};

size_t qHash(const StationStyle::TextKey& key, size_t seed = 0) noexcept;
size_t qHash(const StationStyle::MarkKey& key, size_t seed = 0) noexcept;

// The station style and font for the whole application (message boxes and list popups included).
void ApplyStationLook(QApplication& app);

} // namespace korvan
