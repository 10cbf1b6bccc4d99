// TWIN: commissioning records. The logic lives in records/; here it meets the engine and the
// window.
#include "MessageBoxes.h"
#include "monitor_code_3.h"

using namespace korvan;

void TWIN::SaveSettings() {
    StationMessageBox(MessageKind::Information, "Сохранение настроек ещё не готово.");
}

void TWIN::CompareWithFile() {
    StationMessageBox(MessageKind::Information, "Сравнение с файлом ещё не готово.");
}

void TWIN::MakeReport() {
    StationMessageBox(MessageKind::Information, "Отчёт наладки ещё не готов.");
}
