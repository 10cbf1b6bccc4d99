// "Отчёт наладки": the network as it is now, as a PDF page set for A4, in Russian, with page
// numbers, made with Qt's own text document and PDF writer; every text in it is real text.
#pragma once

#include "RegisterImage.h"

#include <QString>

#include <QPainter>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace korvan::records {

// One event of the journal as the report lists it.
struct ReportEvent {
    QString time; // "09.12.2026 14:03:07.250"
    QString unit;
    QString text;
    QString source;
};

// The link's counters: every request ends in one verdict, so the requests less the good replies
// are the sum of `failures`.
struct ReportCounters {
    std::int64_t requests = 0;
    std::int64_t good = 0;
    std::vector<std::pair<QString, std::int64_t>> failures; // every other verdict, captioned
    std::vector<std::pair<QString, std::int64_t>> more;     // link losses, confirmed writes
};

struct ReportFacts {
    QString objectName; // optional, typed by the operator
    QString engineer;   // optional
    QString madeAt;     // "09.12.2026 10:15"
    QString station;    // "KORVAN PRO 3.01"
    QString port;
    int speed = 0;
    int slaveAddress = 0;
    bool linkUp = false;
    ReportCounters counters;
    std::vector<ReportEvent> events; // the events of this run, or its last ones
    std::uint64_t eventsTotal = 0;   // how many the run had; more than `events` when cut
};

// The report as HTML for QTextDocument.
QString ReportHtml(const ReportFacts& facts, const RegisterImage& confirmed);

// A page drawn rather than laid out, appended after the HTML's: the painter and the page's area.
using ReportPage = std::function<void(QPainter& painter, const QRect& area)>;

// Lays the HTML out on A4 pages with their numbers, then `lastPage` when given, and writes the
// PDF atomically: a table never starts on another page than its heading, and nothing is drawn
// twice. Empty on success, else the message to show.
std::string WriteReportPdf(const std::string& path, const QString& html,
                           const ReportPage& lastPage = {});

} // namespace korvan::records
