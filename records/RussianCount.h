// A count with its noun in the right Russian form: "1 параметр", "2 параметра", "5 параметров",
// "11 параметров", "21 блоке" / "в 2 блоках". Every count the records show goes through this.
#pragma once

#include <string>

namespace korvan::records {

struct NounForms {
    const char* one;  // 1, 21, 101 ...
    const char* few;  // 2-4, 22-24 ...
    const char* many; // 0, 5-20, 25-30, 111 ...
};

const char* CountForm(long long count, const NounForms& forms);

// "5 параметров"
std::string Counted(long long count, const NounForms& forms);

inline constexpr NounForms kParameters{"параметр", "параметра", "параметров"};
inline constexpr NounForms kOfParameters{"параметра", "параметров", "параметров"}; // "из N ..."
inline constexpr NounForms kInUnits{"блоке", "блоках", "блоках"};                  // "в N ..."
inline constexpr NounForms kEvents{"событие", "события", "событий"};
inline constexpr NounForms kOfEvents{"события", "событий", "событий"}; // "из N ..."
inline constexpr NounForms kRegisters{"регистр", "регистра", "регистров"};

} // namespace korvan::records
