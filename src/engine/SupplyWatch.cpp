#include "engine/SupplyWatch.h"

#include "engine/EngineText.h"

void CSupplyWatch::ForgetMaximum()
{
    m_fMaxVolts = 0.0f;
    m_fMaxAmps = 0.0f;
    m_nRefusals = 0;
}

void CSupplyWatch::NoteRefusal(const pslink::Refusal& refused)
{
    if (refused.count <= m_nRefusals)
        return;
    m_nRefusals = refused.count;
    Q_EMIT ValueRefused(enginetext::RefusedValue(refused), refused.voltage);
}

void CSupplyWatch::NoteMaximum(const pslink::UnitMaximum& held)
{
    const float fVolts = held.centivolts / 100.0f;
    const float fAmps = held.milliamps / 1000.0f;
    if (fVolts == m_fMaxVolts && fAmps == m_fMaxAmps)
        return;
    m_fMaxVolts = fVolts;
    m_fMaxAmps = fAmps;
    // Told once per maximum learned; a fresh connection forgets it.
    if (fVolts > 0.0f || fAmps > 0.0f)
        Q_EMIT MaximumLearned(fVolts, fAmps);
}

void CSupplyWatch::NoteProtection(unsigned nProtection)
{
    if (nProtection == m_nProtection)
        return;
    m_nProtection = nProtection;
    Q_EMIT ProtectionChanged(nProtection);
}
