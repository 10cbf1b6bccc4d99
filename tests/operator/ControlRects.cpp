// Prints where every named control of the main window lies in the window, one line each:
// "NAME LEFT TOP WIDTH HEIGHT", with all panels unfolded as on a network of ten units. The
// operator suite clicks the real window at these places; the rows and the panel arithmetic are
// the window's own, so a moved control moves here too.
#include "PanelLayout.h"
#include "WindowDescription.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QWidget client;
    const korvan::WindowWidgets widgets = korvan::BuildWindow(&client);
    // As the window lays its panels out; it shows its client at the top left, unscrolled.
    namespace layout = korvan::layout;
    const layout::PanelWidths widths = layout::UnfoldedWidths();
    const layout::PanelLefts lefts = layout::LeftEdges(widths);
    for (int i = 0; i < layout::kPanelCount; ++i)
        widgets.Panel(i)->setGeometry(lefts[i], layout::kPanelTop, widths[i], layout::kPanelHeight);
    for (const QWidget* w : client.findChildren<QWidget*>()) {
        if (w->objectName().isEmpty()) continue;
        const QPoint at = w->mapTo(&client, QPoint(0, 0));
        std::printf("%s %d %d %d %d\n", qPrintable(w->objectName()), at.x(), at.y(), w->width(),
                    w->height());
    }
    return 0;
}
