// The station's modal message boxes. Timers and receive events keep being served while one is
// open (the box runs a nested event loop).
#pragma once

#include "StationMessages.h"

#include <functional>
#include <string>

class QMessageBox;
class QWidget;

namespace korvan {

// Caption "Error", "Information" or "Warning" with the toolkit's icon, the buttons OK, or OK and
// Cancel for a warning. True only when the operator answered OK.
bool StationMessageBox(MessageKind kind, const std::string& text);

// The same box shown without a nested event loop: it keeps the operator off the window until
// answered, and the caller may change its text or close it meanwhile. Null when the tests'
// answerer took it.
QMessageBox* OpenStationBox(MessageKind kind, const std::string& text, QWidget* parent);

// A notice that needs no answer, shown without stopping anything: it may come while the poll
// cycle closes an exchange. Caption "Warning", button OK.
void StationNotice(const std::string& text);

// Tests answer the boxes through this instead of a screen; an empty function restores the real
// boxes. The answerer gets what the operator would see and returns the answer.
using MessageBoxAnswerer = std::function<bool(MessageKind kind, const std::string& text)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);

} // namespace korvan
