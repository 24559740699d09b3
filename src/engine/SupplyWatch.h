#pragma once

#include "device/pslink.h"

#include <QObject>

/// What the supply showed of itself, told to front ends once per change: the maximum it holds
/// (learned from setpoints it held below what was asked, or as it told it) and its tripped
/// protections. Lives on the engine's home thread; the supply's thread hands it what it read.
class CSupplyWatch : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    /// What the supply holds at most, as last told: 0 where it is not known.
    float MaxVolts() const { return m_fMaxVolts; }
    float MaxAmps() const { return m_fMaxAmps; }
    /// The protections last told (pslink::ProtectionBit values).
    unsigned Protection() const { return m_nProtection; }

    /// A new connection learns the unit's maximum afresh, and counts its refusals afresh.
    void ForgetMaximum();
    void NoteMaximum(const pslink::UnitMaximum& held);
    /// The latest setpoint the unit refused, as the link last saw one.
    void NoteRefusal(const pslink::Refusal& refused);
    void NoteProtection(unsigned nProtection);

Q_SIGNALS:
    /// The supply held a setpoint below what was asked: what it holds at most (0 where unknown).
    void MaximumLearned(float fVolts, float fAmps);
    /// The supply refused a setpoint and kept the one before: what was asked and what the unit
    /// said, as a user reads it ("31.00 V: -222,"Data out of range""), and whether it was the
    /// voltage.
    void ValueRefused(const QString& strWhat, bool bVoltage);
    /// The supply's tripped protections changed (pslink::ProtectionBit values; 0: none, or the
    /// dialect cannot tell): during a run and once a connect's first readings are in.
    void ProtectionChanged(unsigned nProtection);

private:
    float m_fMaxVolts = 0.0f;
    float m_fMaxAmps = 0.0f;
    unsigned m_nProtection = 0;
    unsigned m_nRefusals = 0; ///< refusals told on this connection
};
