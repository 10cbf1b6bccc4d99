// The commissioning report for ten units, read back as text with pdftotext: every event once,
// counters that add up, each unit's table on the page of its heading, delays in seconds.
#include "RecordsRig.h"
#include "ReportPdf.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace korvan;
using namespace korvan::records;

namespace {

QString PdfText(const QString& path) {
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(30000) || pdftotext.exitCode() != 0) return {};
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

TEST(Report, TenUnitsAddUpAndNothingTwice) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "records_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    RegisterImage image = rig::ThreeUnits();
    image[byte::UnitCount] = 10;
    ReportFacts facts;
    facts.madeAt = QStringLiteral("09.12.2026 22:01");
    facts.station = QStringLiteral("KORVAN PRO 3.01");
    facts.counters.requests = 2034;
    facts.counters.good = 1950;
    facts.counters.failures = {{"нет ответа", 60},
                               {"ошибка CRC", 10},
                               {"неполный ответ", 8},
                               {"неверная длина", 2},
                               {"исключение", 4}};
    facts.counters.more = {{"Потерь связи", 3}};
    for (int i = 0; i < 400; ++i)
        facts.events.push_back(
            {QStringLiteral("09.12.2026 22:01:24.%1").arg(i % 1000, 3, 10, QChar('0')),
             QStringLiteral("ЗОКТ-МР №%1").arg(i % 9 + 1),
             QStringLiteral("событие №%1 с текстом, который переносится на "
                            "вторую строку в узкой колонке таблицы событий")
                 .arg(i),
             QStringLiteral("оператор")});
    facts.eventsTotal = 400;

    QTemporaryDir dir;
    const QString path = dir.filePath("отчёт.pdf");
    ASSERT_EQ(WriteReportPdf(path.toStdString(), ReportHtml(facts, image)), "");
    const QString text = PdfText(path);
    ASSERT_FALSE(text.isEmpty()) << "pdftotext (poppler-utils) gave nothing";

    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(text.count(QStringLiteral("событие №%1 ").arg(i)), 1) << i;
    EXPECT_EQ(text.count(QStringLiteral("22:01:24.399")), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("Не принято, всего"))) << "the failures' total";
    EXPECT_TRUE(text.contains(QStringLiteral("неполный ответ")));

    const QStringList pages = text.split(QChar('\f'));
    for (int k = 1; k < 10; ++k) {
        const QString heading = QStringLiteral("ЗОКТ-МР №%1\nВерсия прошивки").arg(k);
        const auto page = std::find_if(pages.begin(), pages.end(),
                                       [&](const QString& p) { return p.contains(heading); });
        ASSERT_NE(page, pages.end()) << k;
        const QString table = page->mid(page->indexOf(heading));
        const QRegularExpression lastDelay(
            QStringLiteral("Задержка откл\\. 2\\s+%1\\s?с\\s").arg(k < 3 ? 10 * k + 4 : 0));
        EXPECT_TRUE(table.contains(lastDelay)) << "the table apart from its heading: " << k;
    }
}

} // namespace
