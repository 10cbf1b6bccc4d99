// TWIN: the bus scan's window. The scan borrows the station's port for as long as its window is
// open; connecting to a found unit then changes the speed and slave address as the operator's own
// choices in "Связь" do, so the exchange starts afresh with that unit.
#include "PortLoan.h"
#include "PortScanLine.h"
#include "ScanWindow.h"
#include "monitor_code_3.h"

#include <QPointer>

#include <optional>

using namespace korvan;

namespace {

// What one opening of the window holds: the line over the port and, once lent, the port.
struct ScanSession {
    explicit ScanSession(TBComPort& port) : line(port) {}
    scan::PortScanLine line;
    std::optional<PortLoan> loan;
    QPointer<scan::ScanWindow> window;
};

} // namespace

void TWIN::OpenBusScan() {
    auto* session = new ScanSession(Link.COMPORT);
    scan::ScanHost host;
    host.borrowLine = [this, session] {
        session->loan.emplace(Link, QStringLiteral("Опрос остановлен: идёт поиск блоков на линии."),
                              [session](int count) {
                                  if (session->window) session->window->Scan().BytesArrived(count);
                              });
    };
    host.giveBack = [this, session](const scan::ScanFind* find) {
        session->loan.reset();
        if (find) ConnectToFound(find->address, find->baud);
    };
    host.scanned = [this](const std::vector<scan::ScanFind>& finds, scan::ScanEnd end) {
        std::vector<std::pair<int, int>> where;
        for (const scan::ScanFind& find : finds)
            where.emplace_back(find.address, find.baud);
        Link.Journal.BusScanned(where, end == scan::ScanEnd::Stopped);
    };
    auto* window = new scan::ScanWindow(session->line, std::move(host), this);
    session->window = window;
    session->line.Drive(window->Scan());
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The window has used the line to its end (its destructor stops the scan) when this comes.
    connect(window, &QObject::destroyed, this, [session] { delete session; });
    window->show();
}

void TWIN::ConnectToFound(int address, int baud) {
    Link.Journal.BusScanConnected(address, baud);
    TDropList* pcspd = Widgets.ctrl.PCSPD;
    const int index = pcspd->findText(QString::number(baud));
    if (index >= 0) pcspd->setCurrentIndex(index); // PCSPDChange, when it is another speed
    Widgets.ctrl.SENDADR->ShowValue(QString::number(address));
    SENDADRChange();
}

void TWIN::CloseBusScan() {
    delete findChild<scan::ScanWindow*>(QStringLiteral("BUS_SCAN"));
}
