// TWIN: commissioning records. The logic and the windows live in records/; here they meet the
// engine, the traffic record and the window's controls, and nowhere else.
#include "MessageBoxes.h"
#include "monitor_code_3.h"

#include "Binding.h"
#include "CompareWindow.h"
#include "DiagramPainter.h"
#include "FileIo.h"
#include "RecordsCatalogue.h"
#include "ReportPdf.h"
#include "SettingsFile.h"
#include "TextConversion.h"

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>

using namespace korvan;

namespace {

constexpr std::uint64_t kReportEvents = 300;

const char* kNotReadYet = "Блоки ещё не прочитаны: нет данных для этого действия.";

QString Station() {
    return QStringLiteral("KORVAN PRO %1").arg(QStringLiteral(KORVAN_VERSION));
}

// The object and the engineer for the report's header; false when the operator cancels.
bool AskReportNames(QWidget* parent, QString& objectName, QString& engineer) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("REPORT_DIALOG"));
    dialog.setWindowTitle(QStringLiteral("Отчёт наладки"));
    dialog.setMinimumWidth(460);
    auto* object = new QLineEdit(&dialog);
    object->setObjectName(QStringLiteral("REPORT_OBJECT"));
    auto* person = new QLineEdit(&dialog);
    person->setObjectName(QStringLiteral("REPORT_ENGINEER"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Объект (необязательно)"), object);
    form->addRow(QStringLiteral("Наладчик (необязательно)"), person);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return false;
    objectName = object->text().trimmed();
    engineer = person->text().trimmed();
    return true;
}

} // namespace

// ---- what the records reach in the station -------------------------------------------------

bool TWIN::RecordsReady() {
    if (Link.Engine.LinkUp()) return true;
    const bool neverRead = Link.Engine.ShownImage() == RegisterImage{};
    StationMessageBox(MessageKind::Error, neverRead ? kNotReadYet : kNotConnectedText);
    return false;
}

records::LinkFacts TWIN::RecordsLinkFacts() const {
    return {QDateTime::currentDateTime().toString(Qt::ISODate).toStdString(),
            Station().toStdString(), Link.COMPORT.Port(), Widgets.ctrl.PCSPD->currentText().toInt(),
            SlaveAddressFromText(Widgets.ctrl.SENDADR->Value().toStdString())};
}

RegisterImage TWIN::WantedNow() {
    EnsureControlsCurrent();
    RegisterImage image = Link.Engine.WantedImage();
    korvan::ControlsToImage(Controls, image);
    return image;
}

records::StationAccess TWIN::RecordsAccess() {
    records::StationAccess a;
    a.linkUp = [this] { return Link.Engine.LinkUp(); };
    a.confirmed = [this] { return Link.Engine.ShownImage(); };
    a.wanted = [this] { return WantedNow(); };
    a.throughWindow = [this](const RegisterImage& image) {
        EnsureControlsCurrent();
        WindowControls controls = Controls;
        korvan::ImageToControls(image, controls);
        RegisterImage back = Link.Engine.WantedImage();
        korvan::ControlsToImage(controls, back);
        return back;
    };
    // The same road as a hand edit: the controls show the values, what differs becomes the
    // operator's choices and the poll cycle writes them one by one.
    a.want = [this](const RegisterImage& image) {
        EnsureControlsCurrent();
        korvan::ImageToControls(image, Controls);
        PushControls();
        TakeChoices();
    };
    a.exchangesEnd = [this] { return Link.Traffic.End(); };
    a.writesSince = [this](std::uint64_t from, std::set<int>& sent, std::set<int>& echoed) {
        for (std::uint64_t s = std::max(from, Link.Traffic.FirstKept()); s < Link.Traffic.End();
             ++s) {
            const ExchangeRecord& record = Link.Traffic.At(s);
            if (record.request[1] != kWriteSingleRegister) continue;
            const int reg = record.request[2] << 8 | record.request[3];
            sent.insert(reg);
            if (record.verdict == ExchangeVerdict::Good) echoed.insert(reg);
        }
    };
    a.confirm = [](const std::string& text) {
        return StationMessageBox(MessageKind::Warning, text);
    };
    a.error = [](const std::string& text) { StationMessageBox(MessageKind::Error, text); };
    return a;
}

// ---- the three actions -----------------------------------------------------------------------

void TWIN::SaveSettings() {
    if (!RecordsReady()) return;
    const QString name = QStringLiteral("настройки-%1%2")
                             .arg(QDate::currentDate().toString(Qt::ISODate),
                                  QString::fromLatin1(records::kFileSuffix));
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Сохранить настройки"), QDir::home().filePath(name),
        QStringLiteral("Настройки KORVAN PRO (*%1)")
            .arg(QString::fromLatin1(records::kFileSuffix)));
    if (path.isEmpty()) return;
    if (!path.endsWith(QLatin1String(records::kFileSuffix)))
        path += QLatin1String(records::kFileSuffix);
    const std::string error = SaveSettingsTo(path);
    if (!error.empty()) StationMessageBox(MessageKind::Error, error);
}

std::string TWIN::SaveSettingsTo(const QString& path) {
    if (!Link.Engine.LinkUp()) return kNotConnectedText;
    records::SettingsRecord record = records::CaptureSettings(
        Link.Engine.ShownImage(), records::Catalogue().owned, RecordsLinkFacts());
    records::NameRegisters(record, Link.Engine.ShownImage());
    return records::WriteFileAtomically(path.toStdString(), records::SettingsToJson(record));
}

void TWIN::CompareWithFile() {
    if (!RecordsReady()) return;
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Сравнить с файлом"), QDir::homePath(),
                                     QStringLiteral("Настройки KORVAN PRO (*%1);;Все файлы (*)")
                                         .arg(QString::fromLatin1(records::kFileSuffix)));
    if (path.isEmpty()) return;
    const std::string error = OpenComparison(path);
    if (!error.empty()) StationMessageBox(MessageKind::Error, error);
}

std::string TWIN::OpenComparison(const QString& path) {
    std::string bytes;
    std::string error = records::ReadWholeFile(path.toStdString(), bytes);
    if (!error.empty()) return error;
    records::LoadedSettings loaded = records::SettingsFromJson(bytes, records::Catalogue().owned);
    if (!loaded.error.empty()) return loaded.error;
    delete compareView_;
    compareView_ = new records::CompareWindow(std::move(loaded.record), QFileInfo(path).fileName(),
                                              RecordsAccess(), this);
    compareView_->setAttribute(Qt::WA_DeleteOnClose);
    compareView_->show();
    compareView_->raise();
    compareView_->activateWindow();
    return {};
}

void TWIN::MakeReport() {
    if (!RecordsReady()) return;
    QString objectName;
    QString engineer;
    if (!AskReportNames(this, objectName, engineer)) return;
    const QString name =
        QStringLiteral("отчёт-наладки-%1.pdf").arg(QDate::currentDate().toString(Qt::ISODate));
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Отчёт наладки"),
                                     QDir::home().filePath(name), QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty()) return;
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) path += QLatin1String(".pdf");
    const std::string error = WriteReportTo(path, objectName, engineer);
    if (!error.empty()) StationMessageBox(MessageKind::Error, error);
}

std::string TWIN::WriteReportTo(const QString& path, const QString& objectName,
                                const QString& engineer) {
    records::ReportFacts facts;
    facts.objectName = objectName;
    facts.engineer = engineer;
    facts.madeAt = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    facts.station = Station();
    const records::LinkFacts link = RecordsLinkFacts();
    facts.port = QString::fromStdString(link.port);
    facts.speed = link.speed;
    facts.slaveAddress = link.slaveAddress;
    facts.linkUp = Link.Engine.LinkUp();
    const TrafficCounters& c = Link.Traffic.Counters();
    facts.counters = {
        {QStringLiteral("Запросов"), c.requests},
        {QStringLiteral("Ответов принято"), c.Of(ExchangeVerdict::Good)},
        {QStringLiteral("Без ответа"), c.Of(ExchangeVerdict::NoReply)},
        {QStringLiteral("Ошибка CRC"), c.Of(ExchangeVerdict::BadCrc)},
        {QStringLiteral("Прочие ошибки ответа"),
         c.Of(ExchangeVerdict::WrongLength) + c.Of(ExchangeVerdict::WrongAddress) +
             c.Of(ExchangeVerdict::WrongFunction) + c.Of(ExchangeVerdict::EchoMismatch)},
        {QStringLiteral("Отказов блока (исключений)"), c.Of(ExchangeVerdict::Exception)},
        {QStringLiteral("Потерь связи"), c.linkLosses},
        {QStringLiteral("Подтверждённых записей"), c.writesConfirmed},
    };
    // The journal of this run; a long run gives only its last events, or the report would
    // run to hundreds of pages.
    const EventLog& log = Link.Journal.Log();
    facts.eventsTotal = log.End();
    for (std::uint64_t s = std::max(log.FirstKept(),
                                    log.End() - std::min<std::uint64_t>(log.End(), kReportEvents));
         s < log.End(); ++s) {
        const JournalEvent& event = log.At(s);
        facts.events.push_back(QStringLiteral("%1  %2  %3")
                                   .arg(TimeText(event.time), UnitText(event.unit), event.text));
    }
    // The state diagram of the run on the last page.
    const records::ReportPage diagram = [this](QPainter& painter, const QRect& area) {
        PaintRunDiagram(painter, area, Link.Journal.Log(), Link.SEND_TIM.interval());
    };
    return records::WriteReportPdf(path.toStdString(),
                                   records::ReportHtml(facts, Link.Engine.ShownImage()), diagram);
}

records::CompareWindow* TWIN::CompareView() const {
    return compareView_;
}
