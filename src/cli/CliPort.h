#pragma once

#include "device/link/PortSetting.h"

#include <QString>

#include <optional>

class CPowerSupply;

/// What --port names: COM1..COM7 (what the window's port list reaches), or a port setting of its
/// own ("sim", a device path with its prefix and baud) handed to the link as a value.
struct CCliPort
{
    int nPort = 0;   ///< 0..6, COM1..COM7
    std::optional<pslink::PortSetting> setting; ///< a port of its own instead of COMn
    QString strName; ///< as the user wrote it, for messages

    /// Empty on success, else what is wrong with `text`.
    QString Resolve(const QString& text);
    /// Drives channel `nChannel` (0: as the port names it) of the unit on the port. Empty on
    /// success, else what is wrong.
    QString UseChannel(int nChannel);
    /// Makes `supply` connect to this port.
    void Choose(CPowerSupply& supply) const;
    /// "COM1 (Serial port /dev/ttyUSB0 (plain text, 9600 baud))": the name and what it reaches.
    QString Describe() const;
};

/// Tells on standard error what the supply on `port` says about how it is driven (its output
/// switch shared by all channels, a negative output), when it says anything.
void ReportNotice(const CCliPort& port, const QString& strNotice);

/// Tells on standard error that the supply on `port` holds at most `fVolts` / `fAmps` (0: not
/// known), so a script sees why it reads less than it set.
void ReportMaximum(const CCliPort& port, float fVolts, float fAmps);
/// Tells on standard error that the supply on `port` refused a setpoint (CSupplyWatch::ValueRefused).
void ReportRefusal(const CCliPort& port, const QString& strWhat);
