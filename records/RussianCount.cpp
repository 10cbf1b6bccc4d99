#include "RussianCount.h"

namespace korvan::records {

const char* CountForm(long long count, const NounForms& forms) {
    const long long n = (count < 0 ? -count : count) % 100;
    if (n >= 11 && n <= 14) return forms.many;
    switch (n % 10) {
    case 1:
        return forms.one;
    case 2:
    case 3:
    case 4:
        return forms.few;
    default:
        return forms.many;
    }
}

std::string Counted(long long count, const NounForms& forms) {
    return std::to_string(count) + " " + CountForm(count, forms);
}

} // namespace korvan::records
