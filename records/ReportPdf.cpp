#include "ReportPdf.h"

#include "Catalogue.h"
#include "FileIo.h"
#include "SettingsRecord.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

namespace korvan::records {

namespace {

constexpr int kResolution = 300;
constexpr double kMarginMm = 15.0;

QString Escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QString Row(const QString& caption, const QString& value) {
    return QStringLiteral("<tr><td width='55%'>%1</td><td>%2</td></tr>")
        .arg(Escaped(caption), Escaped(value));
}

bool StartsWith(const CatalogueItem& item, const char* prefix) {
    return item.name.startsWith(QLatin1String(prefix));
}

// The report's own headings where the window's caption is the group's alone.
QString ReportCaption(const CatalogueItem& item) {
    if (StartsWith(item, "Ut_")) return QStringLiteral("Тип привода");
    if (StartsWith(item, "ONE_")) return QStringLiteral("Один / два привода");
    if (StartsWith(item, "R_")) return item.caption + QStringLiteral(": тип контакта");
    if (item.name == QLatin1String("CSR")) return item.caption + QStringLiteral(": тип контакта");
    return item.caption;
}

bool InMatrix(const CatalogueItem& item) {
    return StartsWith(item, "FIN") || StartsWith(item, "BIN");
}

QString SettingsTable(int unit, const std::vector<QString>& words) {
    const std::vector<CatalogueItem>& items = CatalogueItems();
    QString html =
        QStringLiteral("<table width='100%' cellspacing='0' cellpadding='2' border='1'>");
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].unit == unit && items[i].kind == ItemKind::Setting && !InMatrix(items[i]))
            html += Row(ReportCaption(items[i]), words[i]);
    return html + QStringLiteral("</table>");
}

// One row per unit present, one column per source, every unit of the map among them: a unit may
// name a module that is not on the network now. A tick where the unit takes the source.
QString MatrixTable(const QString& title, int present, const WindowControls& controls, bool start) {
    QString html =
        QStringLiteral("<p><b>%1</b></p><table width='100%' cellspacing='0' cellpadding='2' "
                       "border='1'><tr><th width='15%'>Блок</th><th>ЗОКТ-01</th>")
            .arg(Escaped(title));
    for (int j = 1; j < kUnits; ++j)
        html += QStringLiteral("<th>МР №%1</th>").arg(j);
    if (start) html += QStringLiteral("<th>Вход ком. сигн.</th>");
    html += QStringLiteral("</tr>");
    auto cell = [](bool on) {
        return QStringLiteral("<td align='center'>%1</td>").arg(on ? QStringLiteral("✓") : "");
    };
    for (int k = 0; k < present; ++k) {
        const UnitControls& u = controls.unit[k];
        html += QStringLiteral("<tr><td nowrap>%1</td>")
                    .arg(Escaped(QString::fromStdString(UnitName(k))));
        for (int j = 0; j < kUnits; ++j)
            html += cell(start ? u.FIN[j] : u.BIN[j]);
        if (start) html += cell(u.FINA);
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

} // namespace

QString ReportHtml(const ReportFacts& facts, const RegisterImage& confirmed) {
    WindowControls controls;
    ShownControls(confirmed, controls);
    const std::vector<QString> words = ImageWords(confirmed);
    const int present = PresentUnits(confirmed);
    const bool matrix = HasMatrix(confirmed[byte::FirmwareMajor]);
    const QString dash = QStringLiteral("—");

    QString html = QStringLiteral("<html><body><h2 align='center'>Отчёт о наладке сети ЗОКТ</h2>"
                                  "<table width='100%' cellspacing='0' cellpadding='2'>");
    html += Row(QStringLiteral("Объект"), facts.objectName.isEmpty() ? dash : facts.objectName);
    html += Row(QStringLiteral("Наладчик"), facts.engineer.isEmpty() ? dash : facts.engineer);
    html += Row(QStringLiteral("Дата и время"), facts.madeAt);
    html += Row(QStringLiteral("Станция"), facts.station);
    html += Row(QStringLiteral("Порт, скорость"),
                QStringLiteral("%1, %2 бит/с").arg(facts.port).arg(facts.speed));
    html += Row(QStringLiteral("Адрес ведомого"), QString::number(facts.slaveAddress));
    html += Row(QStringLiteral("Версия прошивки"), QString::fromStdString(controls.ctrl.VER));
    html += Row(QStringLiteral("Блоков в сети"), QString::number(present));
    if (!facts.linkUp)
        html +=
            Row(QStringLiteral("Связь"), QStringLiteral("потеряна: значения последнего чтения"));
    html += QStringLiteral("</table>");

    html += QStringLiteral("<h3>%1</h3>").arg(Escaped(CatalogueUnitName(kNetworkUnit)));
    html += SettingsTable(kNetworkUnit, words);
    for (int k = 0; k < present; ++k) {
        html += QStringLiteral("<h3>%1</h3>").arg(Escaped(QString::fromStdString(UnitName(k))));
        html += SettingsTable(k, words);
    }

    html += QStringLiteral("<h3>Источники пуска и блокировки</h3>");
    if (matrix) {
        html += MatrixTable(QStringLiteral("Источник пускового сигнала"), present, controls, true);
        html +=
            MatrixTable(QStringLiteral("Блокировка при срабатывании"), present, controls, false);
    } else {
        html += QStringLiteral("<p>Прошивка 1.xx или 2.xx не хранит источников пуска и "
                               "блокировок.</p>");
    }

    html += QStringLiteral("<h3>Обмен</h3><table width='100%' cellspacing='0' cellpadding='2' "
                           "border='1'>");
    for (const auto& [caption, count] : facts.counters)
        html += Row(caption, QString::number(count));
    html += QStringLiteral("</table>");
    if (!facts.events.empty()) {
        html += QStringLiteral("<h3>События</h3>");
        if (facts.eventsTotal > facts.events.size())
            html += QStringLiteral("<p>Последние %1 из %2 событий этого запуска.</p>")
                        .arg(facts.events.size())
                        .arg(facts.eventsTotal);
        html += QStringLiteral("<ul>");
        for (const QString& event : facts.events)
            html += QStringLiteral("<li>%1</li>").arg(Escaped(event));
        html += QStringLiteral("</ul>");
    }

    html += QStringLiteral(
        "<p>&nbsp;</p><table width='100%' cellspacing='0' cellpadding='8'>"
        "<tr><td>Наладку выполнил</td><td>____________________</td><td>/____________________/</td>"
        "<td>Дата ____________</td></tr>"
        "<tr><td>Представитель заказчика</td><td>____________________</td>"
        "<td>/____________________/</td><td>Дата ____________</td></tr></table>");
    return html + QStringLiteral("</body></html>");
}

std::string WriteReportPdf(const std::string& path, const QString& html,
                           const ReportPage& lastPage) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                              QPageLayout::Millimeter);
        writer.setResolution(kResolution);
        writer.setTitle(QStringLiteral("Отчёт о наладке"));
        writer.setCreator(QStringLiteral("KORVAN PRO"));

        QPainter painter;
        if (!painter.begin(&writer)) return "Отчёт не записан: PDF не создаётся.";
        const QRect page = writer.pageLayout().paintRectPixels(kResolution);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(9);
        painter.setFont(font);
        const int footer = painter.fontMetrics().height() * 2;

        QTextDocument document;
        // Laid out in the writer's own pixels, so the fonts keep their sizes in points.
        document.documentLayout()->setPaintDevice(&writer);
        document.setDefaultFont(font);
        document.setPageSize(QSizeF(page.width(), page.height() - footer));
        document.setHtml(html);
        const int pages = document.pageCount() + (lastPage ? 1 : 0);
        const double pageHeight = document.pageSize().height();
        for (int i = 0; i < document.pageCount(); ++i) {
            if (i > 0) writer.newPage();
            painter.save();
            painter.translate(0, -i * pageHeight);
            const QRectF clip(0, i * pageHeight, page.width(), pageHeight);
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = clip;
            painter.setClipRect(clip);
            document.documentLayout()->draw(&painter, context);
            painter.restore();
            painter.drawText(QRect(0, page.height() - footer, page.width(), footer),
                             Qt::AlignHCenter | Qt::AlignBottom,
                             QStringLiteral("Страница %1 из %2").arg(i + 1).arg(pages));
        }
        if (lastPage) {
            writer.newPage();
            lastPage(painter, QRect(0, 0, page.width(), page.height() - footer));
            painter.drawText(QRect(0, page.height() - footer, page.width(), footer),
                             Qt::AlignHCenter | Qt::AlignBottom,
                             QStringLiteral("Страница %1 из %1").arg(pages));
        }
        painter.end();
    }
    return WriteFileAtomically(path, buffer.data().toStdString());
}

} // namespace korvan::records
