// The station's own message texts and the modal boxes that show them. Kept free of the toolkit, so
// that the command logic that chooses a message can be tested without a screen.
#pragma once

#include <string>

namespace korvan {

inline constexpr const char* kNotConnectedText = "Прибор не подключен!";
inline constexpr const char* kNotSupportedText =
    "В данной версии прошивки функция не поддерживается!";
inline constexpr const char* kResetQuestion = "Сброс сигнала ПОЖАР! Продолжить?";
inline constexpr const char* kRestoreQuestion =
    "Восстановление заводских настроек ЗОКТ! Продолжить?";
// First line of the error box shown when the serial port fails.
inline constexpr const char* kPortErrorText =
    "Ошибка компорта! Проверьте подключение и перезапустите программу.";

enum class MessageKind {
    Error,       // OK only
    Information, // OK only
    Warning,     // OK and Cancel
};

// Modal message boxes. The poll cycle keeps running while one is open.
class MessageHost {
  public:
    virtual ~MessageHost() = default;
    // True only when the operator answered OK.
    virtual bool ShowMessage(MessageKind kind, const std::string& text) = 0;
};

} // namespace korvan
