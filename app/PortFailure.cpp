#include "PortFailure.h"

#include "BCPort.h"
#include "StationMessages.h"

#include <unistd.h>

namespace korvan {

std::string PortFailureCause(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EComPort& e) {
        return e.Detail().empty() ? e.what() : std::string(e.what()) + ": " + e.Detail();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

std::string ReportPortFailure(const std::string& cause) {
    const std::string line = "KORVAN PRO: " + cause + "\n";
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, line.data(), line.size());
    return cause.empty() ? kPortErrorText : std::string(kPortErrorText) + "\n" + cause;
}

} // namespace korvan
