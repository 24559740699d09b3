#pragma once

#include <array>
#include <cstdint>

namespace pslink {

/// Samples (one per second) visible across the plot for each record time-scale index 0..6:
/// "50 Sec", "5 min", "25 min", "100 min", "5 hr", "25 hr", "100 hr".
inline constexpr std::array<int, 7> kTimeScaleWindows = {50, 300, 1500, 6000, 18000, 90000, 360000};

/// Window of time-scale index `timeScale`; 0 for an index outside 0..6.
constexpr int TimeScaleWindow(int timeScale)
{
    return timeScale >= 0 && timeScale < static_cast<int>(kTimeScaleWindows.size()) ? kTimeScaleWindows[timeScale]
                                                                                     : 0;
}

} // namespace pslink
