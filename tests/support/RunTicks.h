#pragma once

#include "engine/RunEngine.h"

#include <QtTest/QTest>

/// A tick as the run's timer gives it, waited out: the supply's thread has done its part and the
/// run has reported what it came to. False when that took longer than `nTimeoutMs`.
inline bool Tick(CRun& run, int nTimer, int nTimeoutMs = 5000)
{
    run.OnTimer(nTimer);
    return QTest::qWaitFor([&] { return !run.IsSampling(); }, nTimeoutMs);
}
