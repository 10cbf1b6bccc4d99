// The one context menu of the main window: every extra action, each with its key. The right
// mouse button on the background of any panel (or between the panels) opens it; the keys work
// anywhere in the main window. The entries are listed in ExtrasMenu.cpp, in the order shown.
#pragma once

#include <QKeySequence>
#include <QObject>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace korvan {

class ExtrasMenu : public QObject {
    Q_OBJECT
  public:
    // The menu belongs to `window`, whose keys it takes; `backgrounds` open it on a right click.
    ExtrasMenu(QWidget* window, const std::vector<QWidget*>& backgrounds);

    // One entry: its resource name, its text and its key.
    QAction* Add(const char* name, const QString& text, const QKeySequence& key,
                 std::function<void()> run);
    void AddSeparator();

    QMenu* Menu() const { return menu_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
    QMenu* menu_;
};

} // namespace korvan
