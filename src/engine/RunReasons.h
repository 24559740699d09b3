#pragma once

/// The run's vocabulary: its two timers, why it ended and what befell its link, the values a run
/// reports and front ends tell apart.
struct CRunReasons
{
    static constexpr int kUserTimer = 0;    ///< samples a user-mode run
    static constexpr int kProgramTimer = 1; ///< plays a program
    static constexpr int kTimerPeriodMs = 1000;

    /// Why a run ended.
    enum EndReason {
        kEndDone = 0,        ///< the program's last point was played
        kEndStopped = 1,     ///< OFF, a disconnect, a new run, or the end of the time a front end gave
        kEndLinkLost = 2,    ///< the supply stopped answering; the link has been closed
        kEndFileError = 3,   ///< the program could not be read, so the run never played
        kEndInterrupted = 4, ///< the front end is going away (window closed, a signal)
        kEndOutputOff = 5,   ///< a program's supply came back from a lost link with its output off
    };

    /// What happened to the link during a run.
    enum LinkEventKind {
        kLinkGone,    ///< the supply stopped answering; the run tries to reach it again
        kLinkBack,    ///< the same supply answers again; the run goes on
        kLinkOther,   ///< another supply answers on the port: it is not taken for ours
        kLinkGaveUp,  ///< no supply came back in the time given; the run ends as a lost link
        kLinkStopped, ///< the run ended while trying; the link stays closed
    };
};
