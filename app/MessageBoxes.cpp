#include "MessageBoxes.h"

#include <QMessageBox>

namespace korvan {

namespace {

MessageBoxAnswerer& Answerer() {
    static MessageBoxAnswerer answerer;
    return answerer;
}

} // namespace

void SetMessageBoxAnswerer(MessageBoxAnswerer answerer) {
    Answerer() = std::move(answerer);
}

bool StationMessageBox(MessageKind kind, const std::string& text) {
    if (Answerer()) return Answerer()(kind, text);

    QMessageBox::Icon icon = QMessageBox::Critical;
    QString caption = QStringLiteral("Error");
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (kind) {
    case MessageKind::Error:
        break;
    case MessageKind::Information:
        icon = QMessageBox::Information;
        caption = QStringLiteral("Information");
        break;
    case MessageKind::Warning:
        icon = QMessageBox::Warning;
        caption = QStringLiteral("Warning");
        buttons |= QMessageBox::Cancel;
        break;
    }
    QMessageBox box(icon, caption, QString::fromStdString(text), buttons);
    box.setObjectName(QStringLiteral("MessageBox"));
    return box.exec() == QMessageBox::Ok;
}

QMessageBox* OpenStationBox(MessageKind kind, const std::string& text, QWidget* parent) {
    if (Answerer()) {
        Answerer()(kind, text);
        return nullptr;
    }
    auto* box = new QMessageBox(
        kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::Information,
        kind == MessageKind::Error ? QStringLiteral("Error") : QStringLiteral("Information"),
        QString::fromStdString(text), QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    return box;
}

void StationNotice(const std::string& text) {
    if (Answerer()) {
        Answerer()(MessageKind::Information, text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
                                QString::fromStdString(text), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("Notice"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

} // namespace korvan
