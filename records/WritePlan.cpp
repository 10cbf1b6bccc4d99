#include "WritePlan.h"

#include "RussianCount.h"

#include <map>

namespace korvan::records {

int WritePlan::UnitCount() const {
    std::set<int> units;
    for (const PlannedWrite& write : writes)
        units.insert(write.unit);
    return static_cast<int>(units.size());
}

WritePlan PlanWrite(const Comparison& comparison, const std::vector<bool>& ticked,
                    const RegisterImage& base, const ThroughWindow& throughWindow) {
    WritePlan plan;
    plan.absentUnits = comparison.absentUnits;
    plan.otherFirmwareUnits = comparison.otherFirmwareUnits;
    std::map<int, PlannedWrite> byRegister;
    for (std::size_t i = 0; i < comparison.differences.size(); ++i) {
        if (i >= ticked.size() || !ticked[i]) continue;
        const Difference& d = comparison.differences[i];
        if (d.kind == DifferenceKind::ByHandOnly) {
            ++plan.skippedByHand;
            continue;
        }
        if (d.kind != DifferenceKind::Writable || !MayWriteFromFile(d.reg)) continue;
        PlannedWrite& write =
            byRegister.try_emplace(d.reg, PlannedWrite{d.unit, d.reg, 0, 0}).first->second;
        write.mask |= d.mask;
        write.value = static_cast<std::uint16_t>((RegisterValue(base, d.reg) & ~write.mask) |
                                                 (d.fileValue & write.mask));
    }
    std::vector<PlannedWrite> wanted;
    for (const auto& [reg, write] : byRegister)
        if (write.value != RegisterValue(base, reg)) wanted.push_back(write);

    RegisterImage image = base;
    for (const PlannedWrite& write : wanted)
        SetRegisterValue(image, write.reg, write.value);
    const RegisterImage carried = throughWindow(image);
    for (const PlannedWrite& write : wanted) {
        if (RegisterValue(carried, write.reg) == write.value)
            plan.writes.push_back(write);
        else
            plan.unshowable.push_back(write);
    }
    return plan;
}

std::string PlanSummary(const WritePlan& plan) {
    static constexpr NounForms kWillChange{"Будет изменён", "Будут изменены", "Будет изменено"};
    const auto count = static_cast<long long>(plan.writes.size());
    return std::string(CountForm(count, kWillChange)) + " " + Counted(count, kParameters) + " в " +
           Counted(plan.UnitCount(), kInUnits);
}

std::string ConfirmationText(const WritePlan& plan, const std::vector<std::string>& mismatch) {
    std::string text = PlanSummary(plan) + ".";
    if (mismatch.empty()) return text + " Продолжить?";
    text += "\nФайл сохранён не для этой сети:";
    for (const std::string& line : mismatch)
        text += "\n– " + line;
    return text + "\nПродолжить?";
}

void ApplyPlan(const WritePlan& plan, RegisterImage& image) {
    for (const PlannedWrite& write : plan.writes)
        SetRegisterValue(image, write.reg, write.value);
}

WriteProgress MeasureProgress(const WritePlan& plan, const std::set<int>& sent,
                              const std::set<int>& echoed, const RegisterImage& confirmed) {
    WriteProgress progress;
    for (const PlannedWrite& write : plan.writes) {
        if (sent.contains(write.reg)) ++progress.written;
        const bool holds = ((RegisterValue(confirmed, write.reg) ^ write.value) & write.mask) == 0;
        if (echoed.contains(write.reg) && holds)
            ++progress.confirmed;
        else
            ++progress.left;
    }
    return progress;
}

} // namespace korvan::records
