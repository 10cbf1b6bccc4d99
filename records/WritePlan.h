// Writing from a settings file: which registers change to which values, and how far the writing
// has come. The values reach the units through the station's own write-back (the wanted image),
// one register per poll; nothing here talks to the line.
#pragma once

#include "SettingsDiff.h"

#include <functional>
#include <set>

namespace korvan::records {

struct PlannedWrite {
    int unit = 0;
    int reg = 0;
    std::uint16_t mask = 0;  // the bits taken from the file
    std::uint16_t value = 0; // the whole register to be written
};

struct WritePlan {
    std::vector<PlannedWrite> writes; // ascending registers, one per register
    std::vector<int> absentUnits;
    std::vector<int> otherFirmwareUnits;
    int skippedByHand = 0; // network settings among the ticked differences
    // Registers left out because the window cannot show the file's value (a drive-type code
    // without a list item, contact type 3): the write-back would not carry it.
    std::vector<PlannedWrite> unshowable;

    int UnitCount() const; // units whose registers change
};

// What the window's write-back makes of a wanted image: shown in the controls, then read back
// over the image it came from.
using ThroughWindow = std::function<RegisterImage(const RegisterImage&)>;

// The ticked differences (`ticked[i]` for comparison.differences[i]) over `base`, the registers
// as they are wanted now: bits that no ticked setting owns keep their value there. A register
// whose value does not come back through the window unchanged is left out.
WritePlan PlanWrite(const Comparison& comparison, const std::vector<bool>& ticked,
                    const RegisterImage& base, const ThroughWindow& throughWindow);

// "Будет изменено N параметров в M блоках", in the right forms of the words: the question's
// first sentence and the journal's account of the writing.
std::string PlanSummary(const WritePlan& plan);

// The summary, what differs between the file's network and this one (NetworkMismatch), and
// "Продолжить?".
std::string ConfirmationText(const WritePlan& plan, const std::vector<std::string>& mismatch = {});

// The plan laid over an image: the wanted image the window then shows.
void ApplyPlan(const WritePlan& plan, RegisterImage& image);

struct WriteProgress {
    int written = 0;   // registers of the plan whose write went out
    int confirmed = 0; // echoed, and the confirmed image holds the file's bits
    int left = 0;      // not yet confirmed
};

// `sent` and `echoed`: registers written and echoed since the writing began.
WriteProgress MeasureProgress(const WritePlan& plan, const std::set<int>& sent,
                              const std::set<int>& echoed, const RegisterImage& confirmed);

} // namespace korvan::records
