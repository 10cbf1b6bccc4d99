// What the files of TBComPort share and nobody else sees: the fixed messages of its failures,
// the raising of them, and the line events it asks the device for.
#pragma once

#include "BCPort.h"
#include "Win32Api.h"

#include <string>
#include <utility>

namespace korvan::comport {

inline constexpr char kNoSuchPort[] = "Попытка открыть несуществующий COM-порт";
inline constexpr char kPortBusy[] = "Порт занят другой программой";
inline constexpr char kNoPermission[] =
    "Нет прав доступа к порту: пользователь должен входить в группу dialout";
inline constexpr char kStaleLock[] =
    "Порт заблокирован устаревшим файлом блокировки другого пользователя";
// Causes: a whole message where no operation comes before them (at open), the detail of the
// write or read message otherwise.
inline constexpr char kDeviceGone[] = "устройство отключено";
inline constexpr char kNoConnection[] = "Нет соединения с сетевым портом";
inline constexpr char kPortIoError[] = "ошибка ввода-вывода порта";
inline constexpr char kLineRefused[] = "порт не принял настройки линии";
inline constexpr char kTxStalled[] = "порт не передаёт данные";
inline constexpr char kWriteFailed[] = "Ошибка записи в порт";
inline constexpr char kReadFailed[] = "Ошибка чтения из порта";
inline constexpr char kPurgeCommFailed[] = "Ошибка функции PurgeComm";
inline constexpr char kSetCommTimeoutsFailed[] = "Ошибка функции SetCommTimeouts";
inline constexpr char kSetupCommFailed[] = "Ошибка функции SetupComm";
inline constexpr char kClearCommErrorFailed[] = "Ошибка функции ClearCommError";
inline constexpr char kModemStatusFailed[] = "Ошибка функции GetCommModemStatus";
inline constexpr char kEscapeCommFailed[] = "Ошибка функции EscapeCommFunction";
inline constexpr char kPortIsOpen[] = "Нельзя менять свойство, пока порт открыт";
inline constexpr char kRegistryFailed[] = "Ошибка обращения к системному реестру";

// The line events the port asks for, in the order they are dispatched.
inline constexpr DWORD kDispatchOrder[] = {EV_ERR, EV_RXCHAR, EV_TXEMPTY, EV_RING,
                                           EV_CTS, EV_DSR,    EV_RLSD,    EV_RX80FULL};
inline constexpr DWORD kEventMask =
    EV_ERR | EV_RXCHAR | EV_TXEMPTY | EV_RING | EV_CTS | EV_DSR | EV_RLSD | EV_RX80FULL;
static_assert(kEventMask == 0x05BD);

// What the last error of a failed call says about the device, or nullptr when nothing.
inline const char* DeviceCause(DWORD error) {
    if (error == ERROR_DEVICE_NOT_CONNECTED) return kDeviceGone;
    if (error == ERROR_GEN_FAILURE) return kPortIoError;
    return nullptr;
}

[[noreturn]] inline void Raise(const char* message, std::string detail = {}) {
    throw EComPort(message, std::move(detail));
}

} // namespace korvan::comport
