// TWIN: commissioning records. The logic and the windows live in records/; here they meet the
// engine, the traffic record and the window's controls, and nowhere else.
#include "MessageBoxes.h"
#include "monitor_code_3.h"

#include "Binding.h"
#include "CompareWindow.h"
#include "ExchangeText.h"
#include "DiagramPainter.h"
#include "FileIo.h"
#include "LogWindow.h"
#include "RecordsCatalogue.h"
#include "ReportPdf.h"
#include "SettingsFile.h"
#include "TextConversion.h"

#include <QComboBox>
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

// The object and the engineer for the report's header, and whether it lists every event of the
// run or its last ones; false when the operator cancels.
bool AskReportNames(QWidget* parent, std::uint64_t events, QString& objectName, QString& engineer,
                    bool& allEvents) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("REPORT_DIALOG"));
    dialog.setWindowTitle(QStringLiteral("Отчёт наладки"));
    dialog.setMinimumWidth(460);
    auto* object = new QLineEdit(&dialog);
    object->setObjectName(QStringLiteral("REPORT_OBJECT"));
    auto* person = new QLineEdit(&dialog);
    person->setObjectName(QStringLiteral("REPORT_ENGINEER"));
    auto* which = new QComboBox(&dialog);
    which->setObjectName(QStringLiteral("REPORT_EVENTS"));
    which->addItem(QStringLiteral("последние %1").arg(kReportEvents));
    which->addItem(QStringLiteral("Все события (%1)").arg(events));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Объект (необязательно)"), object);
    form->addRow(QStringLiteral("Наладчик (необязательно)"), person);
    form->addRow(QStringLiteral("События"), which);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return false;
    objectName = object->text().trimmed();
    engineer = person->text().trimmed();
    allEvents = which->currentIndex() == 1;
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
    return {IsoTimeText(std::chrono::system_clock::now()), Station().toStdString(),
            Link.COMPORT.Port(), Widgets.ctrl.PCSPD->currentText().toInt(),
            SlaveAddressFromText(Widgets.ctrl.SENDADR->Value().toStdString())};
}

records::StationAccess TWIN::RecordsAccess() {
    records::StationAccess a;
    a.linkUp = [this] { return Link.Engine.LinkUp(); };
    a.confirmed = [this] { return Link.Engine.ShownImage(); };
    a.wanted = [this] { return Link.Engine.WantedImage(); };
    a.throughWindow = [this](const RegisterImage& image) {
        WindowControls controls;
        korvan::ImageToControls(image, controls);
        RegisterImage back = Link.Engine.WantedImage();
        korvan::ControlsToImage(controls, back);
        return back;
    };
    // The same road as a hand edit, one register per poll, but as a job: a lost link stops it.
    a.choose = [this](const records::WritePlan& plan) {
        for (const records::PlannedWrite& write : plan.writes)
            Link.Engine.Choose(write.reg, write.mask,
                               static_cast<std::uint16_t>(write.value & write.mask),
                               PollEngine::ChoiceKind::Job);
        ImageToControls(Link.Engine.WantedImage());
    };
    a.stop = [this] { Link.Engine.StopJob(); };
    a.linkBreaks = [this] { return Link.Engine.LinkBreaks(); };
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
    a.network = [this] { return RecordsLinkFacts(); };
    a.writeStarted = [this](const std::string& text) {
        Link.Journal.FileWriteStarted(QString::fromStdString(text));
    };
    a.writeEnded = [this](const std::string& text, bool complete) {
        Link.Journal.FileWriteEnded(QString::fromStdString(text), complete);
    };
    return a;
}

// ---- the three actions -----------------------------------------------------------------------

void TWIN::SaveSettings() {
    if (!RecordsReady()) return;
    const QString name = QStringLiteral("настройки-%1%2")
                             .arg(QDate::currentDate().toString(Qt::ISODate),
                                  QString::fromLatin1(records::kFileSuffix));
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Сохранить настройки"), QDir(DialogFolder()).filePath(name),
        QStringLiteral("Настройки KORVAN PRO (*%1)")
            .arg(QString::fromLatin1(records::kFileSuffix)));
    if (path.isEmpty()) return;
    RememberFolder(path);
    if (!path.endsWith(QLatin1String(records::kFileSuffix)))
        path += QLatin1String(records::kFileSuffix);
    const std::string error = SaveSettingsTo(path);
    if (!error.empty()) {
        StationMessageBox(MessageKind::Error, error);
        return;
    }
    StationMessageBox(MessageKind::Information, "Настройки сохранены в файл " +
                                                    QDir::toNativeSeparators(path).toStdString() +
                                                    ".");
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
        QFileDialog::getOpenFileName(this, QStringLiteral("Сравнить с файлом"), DialogFolder(),
                                     QStringLiteral("Настройки KORVAN PRO (*%1);;Все файлы (*)")
                                         .arg(QString::fromLatin1(records::kFileSuffix)));
    if (path.isEmpty()) return;
    RememberFolder(path);
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
    bool allEvents = false;
    if (!AskReportNames(this, Link.Journal.Log().End() - Link.Journal.Log().FirstKept(), objectName,
                        engineer, allEvents))
        return;
    const QString name =
        QStringLiteral("отчёт-наладки-%1.pdf").arg(QDate::currentDate().toString(Qt::ISODate));
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Отчёт наладки"),
                                                QDir(DialogFolder()).filePath(name),
                                                QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty()) return;
    RememberFolder(path);
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) path += QLatin1String(".pdf");
    const std::string error = WriteReportTo(path, objectName, engineer, allEvents);
    if (!error.empty()) StationMessageBox(MessageKind::Error, error);
}

std::string TWIN::WriteReportTo(const QString& path, const QString& objectName,
                                const QString& engineer, bool allEvents) {
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
    // Every verdict has its line, so the requests less the good replies are their sum.
    const TrafficCounters& c = Link.Traffic.Counters();
    facts.counters.requests = c.requests;
    facts.counters.good = c.Of(ExchangeVerdict::Good);
    for (int v = 0; v < kVerdictCount; ++v) {
        const auto verdict = static_cast<ExchangeVerdict>(v);
        if (verdict == ExchangeVerdict::Good) continue;
        const QString caption = verdict == ExchangeVerdict::Exception
                                    ? QStringLiteral("отказ блока (исключение)")
                                    : QString::fromStdString(VerdictText(verdict, 0));
        facts.counters.failures.emplace_back(caption, c.Of(verdict));
    }
    facts.counters.more = {{QStringLiteral("Потерь связи"), c.linkLosses},
                           {QStringLiteral("Подтверждённых записей"), c.writesConfirmed}};
    // The journal of this run; a long run gives only its last events unless the operator asks
    // for all, or the report would run to hundreds of pages.
    const EventLog& log = Link.Journal.Log();
    facts.eventsTotal = log.End();
    const std::uint64_t from =
        allEvents ? log.FirstKept()
                  : std::max(log.FirstKept(),
                             log.End() - std::min<std::uint64_t>(log.End(), kReportEvents));
    for (std::uint64_t s = from; s < log.End(); ++s) {
        const JournalEvent& event = log.At(s);
        facts.events.push_back(
            {TimeText(event.time), UnitText(event.unit), event.text, SourceText(event.source)});
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
