#include "ReportPdf.h"

#include "Catalogue.h"
#include "FileIo.h"
#include "RussianCount.h"
#include "SettingsRecord.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextTable>

#include <QTextDocument>
#include <utility>

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
    if (StartsWith(item, "R_")) return item.caption + QStringLiteral(": тип контакта");
    if (item.name == QLatin1String("CSR")) return item.caption + QStringLiteral(": тип контакта");
    return item.caption;
}

bool InMatrix(const CatalogueItem& item) {
    return StartsWith(item, "FIN") || StartsWith(item, "BIN");
}

bool IsDelay(const CatalogueItem& item) {
    for (const char* prefix : {"TD1_", "TP1_", "TD2_", "TP2_"})
        if (StartsWith(item, prefix)) return true;
    return false;
}

// A unit's settings; its firmware first, when the unit has one of its own.
QString SettingsTable(int unit, const std::vector<QString>& words, const QString& firmware) {
    const std::vector<CatalogueItem>& items = CatalogueItems();
    QString html =
        QStringLiteral("<table width='100%' cellspacing='0' cellpadding='2' border='1'>");
    if (!firmware.isEmpty()) html += Row(QStringLiteral("Версия прошивки"), firmware);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].unit != unit || items[i].kind != ItemKind::Setting || InMatrix(items[i]))
            continue;
        const bool seconds = IsDelay(items[i]) && !words[i].isEmpty();
        html += Row(ReportCaption(items[i]), seconds ? words[i] + QStringLiteral(" с") : words[i]);
    }
    return html + QStringLiteral("</table>");
}

QString CountersTable(const ReportCounters& c) {
    std::int64_t failed = 0;
    for (const auto& failure : c.failures)
        failed += failure.second;
    QString html =
        QStringLiteral("<table width='100%' cellspacing='0' cellpadding='2' border='1'>");
    html += Row(QStringLiteral("Запросов"), QString::number(c.requests));
    html += Row(QStringLiteral("Ответов принято"), QString::number(c.good));
    html += Row(QStringLiteral("Не принято, всего"), QString::number(failed));
    for (const auto& [caption, count] : c.failures)
        html += Row(QStringLiteral("\u2003") + caption, QString::number(count));
    for (const auto& [caption, count] : c.more)
        html += Row(caption, QString::number(count));
    return html + QStringLiteral("</table>");
}

QString EventsTable(const std::vector<ReportEvent>& events) {
    QString html =
        QStringLiteral("<table width='100%' cellspacing='0' cellpadding='2' border='1'><thead><tr>"
                       "<th width='22%'>Время</th><th width='14%'>Блок</th><th>Событие</th>"
                       "<th width='11%'>Источник</th></tr></thead>");
    for (const ReportEvent& e : events)
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                    .arg(Escaped(e.time), Escaped(e.unit), Escaped(e.text), Escaped(e.source));
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

// A table that would begin on one page and end on the next starts a new page together with its
// heading, the block before it, when the two fit on one page; a longer table (the events) repeats
// its title row on every page instead.
void KeepTablesWithHeadings(QTextDocument& document) {
    const double pageHeight = document.pageSize().height();
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    QTextBlock heading;
    for (auto it = document.rootFrame()->begin(); !it.atEnd(); ++it) {
        if (it.currentBlock().isValid()) {
            if (!it.currentBlock().text().trimmed().isEmpty()) heading = it.currentBlock();
            continue;
        }
        auto* table = qobject_cast<QTextTable*>(it.currentFrame());
        if (table == nullptr || !heading.isValid()) continue;
        const QTextBlock before = std::exchange(heading, QTextBlock());
        const double top = layout->blockBoundingRect(before).top();
        const double bottom = layout->frameBoundingRect(table).bottom();
        if (bottom - top > pageHeight) continue;
        if (static_cast<int>(top / pageHeight) == static_cast<int>((bottom - 1) / pageHeight))
            continue;
        QTextCursor cursor(before);
        QTextBlockFormat format = cursor.blockFormat();
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        cursor.setBlockFormat(format);
    }
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
    const QString firmware = QString::fromStdString(controls.ctrl.VER);
    html += Row(QStringLiteral("Версия прошивки"), firmware);
    html += Row(QStringLiteral("Блоков в сети"), QString::number(present));
    if (!facts.linkUp)
        html +=
            Row(QStringLiteral("Связь"), QStringLiteral("потеряна: значения последнего чтения"));
    html += QStringLiteral("</table>");

    html += QStringLiteral("<h3>%1</h3>").arg(Escaped(CatalogueUnitName(kNetworkUnit)));
    html += SettingsTable(kNetworkUnit, words, {});
    // The map has one version register, the master's, which every unit of the network shares.
    for (int k = 0; k < present; ++k) {
        html += QStringLiteral("<h3>%1</h3>").arg(Escaped(QString::fromStdString(UnitName(k))));
        html += SettingsTable(k, words, firmware);
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

    html += QStringLiteral("<h3>Обмен</h3>") + CountersTable(facts.counters);
    if (!facts.events.empty()) {
        html += QStringLiteral("<h3>События</h3>");
        if (facts.eventsTotal > facts.events.size())
            html += QStringLiteral("<p>Последние %1 из %2 этого запуска.</p>")
                        .arg(facts.events.size())
                        .arg(QString::fromStdString(
                            Counted(static_cast<long long>(facts.eventsTotal), kOfEvents)));
        html += EventsTable(facts.events);
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
        KeepTablesWithHeadings(document);
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
