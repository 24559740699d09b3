#pragma once

#include <QString>

/// What --port names, as the device library's port index. `sim` and device paths become COM1's
/// setting (TARNWELL_COM1) in this process, so the library's own port rules open them: there is
/// no second way to a device.
struct CCliPort
{
    int nPort = 0;   ///< 0..6, COM1..COM7
    QString strName; ///< as the user wrote it, for messages

    /// Empty on success, else what is wrong with `text`.
    QString Resolve(const QString& text);
    /// "COM1 (Serial port /dev/ttyUSB0 (plain text, 9600 baud))": the name and what it reaches.
    QString Describe() const;
};

/// Waits, at most `nTimeoutMs`, until the readings of `nDevice` reflect every command sent before
/// the call, running the event loop meanwhile. False when the link is gone or the time ran out.
bool WaitForFreshReadings(int nDevice, int nTimeoutMs);

/// The identity of the supply on `nDevice` as one printable line; empty when it did not answer.
QString IdentityLine(int nDevice);
