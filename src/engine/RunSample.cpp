#include "engine/RunSample.h"

#include "device/PowerSupply.h"

CRunSample LampsAndCount(const CPowerSupply& supply, int bProgram)
{
    CRunSample sample;
    sample.bProgram = bProgram;
    sample.nSample = supply.m_nSample.load();
    sample.nOutState = supply.m_nOutState.load();
    sample.nCvState = supply.m_nCvState.load();
    sample.nCcState = supply.m_nCcState.load();
    sample.nProtection = supply.m_nProtection.load();
    return sample;
}
