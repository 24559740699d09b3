#pragma once

// The supply's preset limits, its starting presets and the step table, read by every field,
// button and page that steps, clamps or formats a preset.

#include <QString>

#include <array>
#include <cstddef>

namespace supply {

/// Highest voltage preset, volts.
inline constexpr float kMaxVolts = 32.0f;
/// Highest current preset, amperes: a value is above it when it exceeds the double 5.1, and is
/// then stored as the float 5.1f. (No float lies between 5.1f and 5.1, so comparing with 5.1f
/// gives the same answer.)
inline constexpr double kMaxAmps = 5.1;
inline constexpr float kMaxAmpsStored = 5.1f;
/// The limits in the link's counts: hundredths of a volt, thousandths of an ampere.
inline constexpr int kMaxCentivolts = static_cast<int>(kMaxVolts * 100.0f + 0.5f);
inline constexpr int kMaxMilliamps = static_cast<int>(kMaxAmps * 1000.0 + 0.5);

/// The presets a supply starts with, before anything is typed, stepped or loaded: 5 V and 1 A.
inline constexpr float kInitialVolts = 5.0f;
inline constexpr float kInitialAmps = 1.0f;
/// The same in the link's counts.
inline constexpr int kInitialCentivolts = static_cast<int>(kInitialVolts * 100.0f + 0.5f);
inline constexpr int kInitialMilliamps = static_cast<int>(kInitialAmps * 1000.0f + 0.5f);

/// The limits as the texts that state them write them: "32" and "5.1"; the Control page's caption
/// gives the current limit in whole amperes ("5").
inline QString LimitText(bool voltage)
{
    return QString::number(voltage ? static_cast<double>(kMaxVolts) : kMaxAmps, 'g', 6);
}
inline QString WholeLimitText(bool voltage)
{
    return QString::number(static_cast<int>(voltage ? static_cast<double>(kMaxVolts) : kMaxAmps));
}

/// Decimals a preset is shown and written with: "%.2f" volts, "%.3f" amperes.
inline constexpr int kVoltsDecimals = 2;
inline constexpr int kAmpsDecimals = 3;
/// The measured current of a user-mode run is shown with two decimals, as the page always has.
inline constexpr int kUserAmpsDecimals = 2;

/// One entry of the step list: the step and the text the list shows for it.
struct Step
{
    float size;
    const char* text;
};

/// Step index 0..3, as the step list and the wheel use it.
inline constexpr std::array<Step, 4> kVoltSteps = {{{10.0f, "10"}, {1.0f, "1"}, {0.1f, "0.1"}, {0.01f, "0.01"}}};
inline constexpr std::array<Step, 4> kAmpSteps = {{{1.0f, "1"}, {0.1f, "0.1"}, {0.01f, "0.01"}, {0.001f, "0.001"}}};
inline constexpr int kStepCount = 4;
/// The step index every field and the step list start with (1 V, 0.1 A).
inline constexpr int kInitialStep = 1;

constexpr const std::array<Step, 4>& Steps(bool voltage)
{
    return voltage ? kVoltSteps : kAmpSteps;
}

/// Step of index `index` (0..3); 0 for any other index, which leaves a value where it is.
constexpr float StepSize(int index, bool voltage)
{
    return index >= 0 && index < kStepCount ? Steps(voltage)[static_cast<std::size_t>(index)].size : 0.0f;
}

constexpr int Decimals(bool voltage)
{
    return voltage ? kVoltsDecimals : kAmpsDecimals;
}

/// True when `value` lies above the preset limit.
constexpr bool AboveLimit(float value, bool voltage)
{
    return voltage ? value > kMaxVolts : static_cast<double>(value) > kMaxAmps;
}

/// `value` held to the preset limit from above (there is no lower limit here: callers that step
/// down hold it at 0 themselves).
constexpr float ClampAbove(float value, bool voltage)
{
    return AboveLimit(value, voltage) ? (voltage ? kMaxVolts : kMaxAmpsStored) : value;
}

/// A preset stepped by the step of index `index`, up or down (the stepping of UP, Down and the
/// wheel). A value beyond the limit (a program point) is stepped from the limit, so a step down
/// never sends more than the supply takes; a step up is held to the limit, a step down to 0. The
/// step is added in double precision and the result kept as a float.
constexpr float StepValue(float value, int index, bool voltage, bool up)
{
    const double from = ClampAbove(value, voltage);
    const double step = StepSize(index, voltage);
    const float stepped = static_cast<float>(up ? from + step : from - step);
    return up ? ClampAbove(stepped, voltage) : (stepped < 0.0f ? 0.0f : stepped);
}

/// `value` held to 0 .. the preset limit.
constexpr float ClampToRange(float value, bool voltage)
{
    return value < 0.0f ? 0.0f : ClampAbove(value, voltage);
}

} // namespace supply
