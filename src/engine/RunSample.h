#pragma once

#include <QMetaType>
#include <QString>

class CPowerSupply;

/// One sample of a run as a front end shows it.
struct CRunSample
{
    int nSample = 0;       ///< the supply's sample counter after the tick: elapsed seconds
    int bProgram = 0;      ///< taken in program mode
    float fVoltage = 0.0f; ///< measured volts
    float fCurrent = 0.0f; ///< measured amperes
    QString strVoltage;    ///< the page's measured-voltage text ("%.2f")
    QString strCurrent;    ///< the page's measured-current text ("%.2f" user mode, "%.3f" program mode)
    int nOutState = 0;
    int nCvState = 0;
    int nCcState = 0;
    unsigned nProtection = 0; ///< tripped protections (pslink::ProtectionBit); 0: none, or not known
    int bGap = 0; ///< a second without a reading: the link was down (nothing else is filled in)
};
Q_DECLARE_METATYPE(CRunSample)

/// The lamps, the protections and the sample count `supply` holds now, as a sample of a user run
/// (`bProgram` 0) or of a program run. On the supply's thread.
CRunSample LampsAndCount(const CPowerSupply& supply, int bProgram);
