#include "QtWindowThread.h"

#include "WindowThread.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QThread>

#include <stdexcept>

namespace korvan {

namespace {

class QtWindowThreadHost final : public win::WindowThreadHost {
  public:
    bool Available() const override { return QCoreApplication::instance() != nullptr; }

    bool IsWindowThread() const override {
        const QCoreApplication* app = QCoreApplication::instance();
        return app && QThread::currentThread() == app->thread();
    }

    void PostServe() override {
        // A posted call runs in whichever event loop the window thread is in, nested ones too.
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app, [] { win::ServeWindowThread(); }, Qt::QueuedConnection);
        }
    }

    // The application's standard report: an error box captioned with the application's title,
    // the message with a full stop appended.
    void ReportException(std::exception_ptr error) override {
        QString text;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            text = QString::fromUtf8(e.what());
        } catch (...) {
            return;
        }
        if (!text.isEmpty() && text.back() > QLatin1Char('.')) text += QLatin1Char('.');
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
        QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), text,
                        QMessageBox::Ok);
        box.exec();
    }
};

win::WindowThreadHost* TheHost() {
    static auto* host = new QtWindowThreadHost; // used up to the very end of the process
    return host;
}

const bool installed = [] {
    win::SetWindowThreadHost(TheHost());
    return true;
}();

} // namespace

void InstallQtWindowThread() {
    win::SetWindowThreadHost(TheHost());
}

} // namespace korvan

// Referenced from the link line of everything that links korvan_handoff_qt, so that the
// installation above is linked in even though nothing calls into this file.
extern "C" void korvan_handoff_qt_anchor() {
    (void)korvan::installed;
}
