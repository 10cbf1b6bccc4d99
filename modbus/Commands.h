// The operator's commands: the five command buttons and the clicks on the output indicators.
// None of them sends anything; each changes the wanted state, which the poll cycle writes.
#pragma once

#include "Colour.h"
#include "ControlsModel.h"
#include "PollEngine.h"

#include <cstdint>
#include <string>

namespace korvan {

inline constexpr const char* kNotConnectedText = "Прибор не подключен!";
inline constexpr const char* kNotSupportedText =
    "В данной версии прошивки функция не поддерживается!";
inline constexpr const char* kResetQuestion = "Сброс сигнала ПОЖАР! Продолжить?";
inline constexpr const char* kRestoreQuestion =
    "Восстановление заводских настроек ЗОКТ! Продолжить?";

constexpr std::uint8_t kCommandStart = 170;  // register 94
constexpr std::uint8_t kCommandStop = 85;    // register 94
constexpr std::uint8_t kCommandReset = 170;  // register 95: reset of the fire alarm
constexpr std::uint8_t kCommandRestore = 85; // register 95: factory settings

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

void GO_BUTClick(PollEngine& engine, WindowControls& controls);
void ST_BUTClick(PollEngine& engine, WindowControls& controls);
void RES_BUTClick(PollEngine& engine, MessageHost& messages);
void RESTOREClick(PollEngine& engine, MessageHost& messages);
void FINDClick(PollEngine& engine, MessageHost& messages);

// A click on an output or relay indicator: red turns green, any other colour turns red.
void ToggleOutputIndicator(Colour& indicator);

} // namespace korvan
