// A failure of the serial port as the operator learns of it: the error box keeps its fixed first
// line and tells the cause on a second one ("Порт занят другой программой: picocom (PID 812)");
// the same cause line goes to standard error, for a station started from a terminal or a
// service manager.
#pragma once

#include <exception>
#include <string>

namespace korvan {

// The cause line of a port failure: the component's message and what else it knows.
std::string PortFailureCause(std::exception_ptr error);

// Writes the cause to standard error and returns the error box's text.
std::string ReportPortFailure(const std::string& cause);

} // namespace korvan
