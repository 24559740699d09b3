#include "device/PowerSupply.h"

#include "device/NumberText.h"
#include "device/RecordFormat.h"
#include "device/SupplyLimits.h"
#include "device/draw/PlotScale.h"
#include "device/pslink.h"

#include <algorithm>
#include <climits>

CPowerSupply::CPowerSupply()
{
    numtext::DigitsFromCount(supply::kInitialCentivolts, m_abSetVoltage);
    numtext::DigitsFromCount(supply::kInitialMilliamps, m_abSetCurrent);
}
CPowerSupply::~CPowerSupply() = default;

// ---- Device operations ----

int CPowerSupply::Open(std::string* pIdentity)
{
    const int nOpened = m_portSetting ? pslink::OpenPort(m_nDevice, *m_portSetting) : OpenCOM(m_nDevice, m_nPort);
    if (nOpened == 0)
        return 0;
    // The whole identity, as dsoReadVersion asks it; the version buffer keeps its first nine.
    const std::string identity = pslink::ReadIdentity(m_nDevice);
    std::fill(std::begin(m_abVersion), std::end(m_abVersion), 0);
    std::copy_n(identity.begin(), std::min<size_t>(identity.size(), sizeof m_abVersion - 1), m_abVersion);
    if (pIdentity)
        *pIdentity = identity;
    return identity.empty() ? 0 : 1;
}

int CPowerSupply::Connect(std::string* pIdentity)
{
    if (Open(pIdentity) == 0)
        return 0;
    dsoCloseOutput(m_nDevice);
    dsoSetVoltage(m_nDevice, m_abSetVoltage);
    dsoSetCurrent(m_nDevice, m_abSetCurrent);
    dsoOpenPower(m_nDevice);
    return 1;
}

int CPowerSupply::SetSetpoint(float fVolts, float fAmps, int which)
{
    if (which != 0) {
        numtext::EncodeVolts(fVolts, m_abSetVoltage);
        return dsoSetVoltage(m_nDevice, m_abSetVoltage);
    }
    numtext::EncodeAmps(fAmps, m_abSetCurrent);
    return dsoSetCurrent(m_nDevice, m_abSetCurrent);
}

int CPowerSupply::ApplyNextPoint()
{
    unsigned char abVoltage[5] = {};
    unsigned char abCurrent[5] = {};
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        const int index = m_nPlayIndex.load();
        // The lists hold one pass; point `index` is row index mod the pass. A run whose lists
        // are empty although points were announced (its file vanished between the count and the
        // load) ends at once.
        const size_t rows = std::min(m_playVoltage.size(), m_playCurrent.size());
        if (index < 0 || index >= m_nPlayTotal.load() || rows == 0) {
            m_bFinished = 1;
            return 1;
        }
        const size_t row = static_cast<size_t>(index) % rows;
        const float fVolts = m_playVoltage[row];
        const float fAmps = m_playCurrent[row];
        m_nPlayIndex = index + 1;
        m_strSetVoltage = numtext::FixedText(fVolts, supply::kVoltsDecimals);
        m_strSetCurrent = numtext::FixedText(fAmps, supply::kAmpsDecimals);
        m_fVoltage = fVolts;
        m_fCurrent = fAmps;
        numtext::EncodeVolts(fVolts, m_abSetVoltage);
        numtext::EncodeAmps(fAmps, m_abSetCurrent);
        std::copy_n(m_abSetVoltage, 5, abVoltage);
        std::copy_n(m_abSetCurrent, 5, abCurrent);
    }
    // The wire is slow: send outside the lock so painting never waits on the supply.
    dsoSetVoltage(m_nDevice, abVoltage);
    dsoSetCurrent(m_nDevice, abCurrent);
    return 1;
}

void CPowerSupply::ReadLamps()
{
    int out = 0, cv = 0, cc = 0;
    dsoReadState(m_nDevice, &out, &cv, &cc);
    m_nOutState = out;
    m_nCvState = cv;
    m_nCcState = cc;
    m_nProtection = pslink::ReadProtection(m_nDevice);
}

int CPowerSupply::ReadProgramSample()
{
    BeginProgramSample();
    return TakeProgramSample();
}

void CPowerSupply::BeginProgramSample()
{
    if (m_nPlayIndex.load() == 1)
        dsoOpenOutput(m_nDevice);
}

int CPowerSupply::TakeProgramSample()
{
    ReadLamps();
    unsigned char abVoltage[5] = {};
    unsigned char abCurrent[5] = {};
    dsoReadVoltage(m_nDevice, abVoltage);
    dsoReadCurrent(m_nDevice, abCurrent);
    const float fVolts = numtext::DecodeVolts(abVoltage);
    const float fAmps = numtext::DecodeAmps(abCurrent);

    ++m_nWindow;
    m_strVoltage = numtext::FixedText(fVolts, supply::kVoltsDecimals);
    m_strCurrent = numtext::FixedText(fAmps, supply::kAmpsDecimals);
    std::lock_guard<std::mutex> guard(m_hLock);
    m_logTime.push_back(m_nSample.load());
    m_logVoltage.push_back(fVolts);
    m_logCurrent.push_back(fAmps);
    ++m_nSample;
    return 1;
}

int CPowerSupply::ReadRecordSample()
{
    BeginRecordSample();
    return TakeRecordSample();
}

void CPowerSupply::BeginRecordSample()
{
    if (m_bOpenOutput.exchange(0) != 0)
        dsoOpenOutput(m_nDevice);
}

int CPowerSupply::TakeRecordSample()
{
    ReadLamps();
    dsoReadVoltage(m_nDevice, m_abReadVoltage);
    dsoReadCurrent(m_nDevice, m_abReadCurrent);
    const int sample = ++m_nSample;
    m_fVoltage = numtext::DecodeVolts(m_abReadVoltage);
    m_fCurrent = numtext::DecodeAmps(m_abReadCurrent);

    std::string row;
    row.reserve(32);
    recordfile::AppendSampleRow(row, sample, m_fVoltage, m_fCurrent);
    row += '\n';

    std::lock_guard<std::mutex> guard(m_hLock);
    m_rows.push_back(std::move(row));
    const bool full = ++m_nWindow > plot::kLiveWindow;
    if (full) {
        m_nWindow = plot::kLiveWindow;
        if (!m_logTime.empty())
            m_logTime.pop_front();
        if (!m_logVoltage.empty())
            m_logVoltage.pop_front();
        if (!m_logCurrent.empty())
            m_logCurrent.pop_front();
    }
    m_logTime.push_back(sample);
    m_logVoltage.push_back(m_fVoltage);
    m_logCurrent.push_back(m_fCurrent);
    return 1;
}

int CPowerSupply::ExpandProgram()
{
    std::lock_guard<std::mutex> guard(m_hLock);
    m_logTime.clear();
    m_playTime.clear();
    m_logVoltage.clear();
    m_playVoltage.clear();
    m_logCurrent.clear();
    m_playCurrent.clear();

    const int cycles = m_nCycles.load();
    if (m_bDisplayMode.load() != 0) {
        // A loaded record sets one cycle; nothing to repeat without rows.
        for (int pass = 0; pass < cycles && !m_progTime.empty(); ++pass) {
            m_logTime.insert(m_logTime.end(), m_progTime.begin(), m_progTime.end());
            m_logVoltage.insert(m_logVoltage.end(), m_progVoltage.begin(), m_progVoltage.end());
            m_logCurrent.insert(m_logCurrent.end(), m_progCurrent.begin(), m_progCurrent.end());
        }
        return 1;
    }

    const long long total =
        cycles > 0 ? std::clamp<long long>(static_cast<long long>(m_nPointsPerCycle.load()) * cycles, 0, INT_MAX) : 0;
    m_nPlayTotal = static_cast<int>(total);
    // One pass, however many cycles: ApplyNextPoint goes round it.
    if (total > 0) {
        m_playTime = m_progTime;
        m_playVoltage = m_progVoltage;
        m_playCurrent = m_progCurrent;
    }
    return 1;
}

void CPowerSupply::ResetPlayback()
{
    std::lock_guard<std::mutex> guard(m_hLock);
    m_nPlayTotal = 0;
    m_nPlayIndex = 0;
    m_playTime.clear();
    m_playVoltage.clear();
    m_playCurrent.clear();
}

int CPowerSupply::CopySeries(float* pData, std::int16_t nSeries)
{
    m_nWindow = 0;
    std::lock_guard<std::mutex> guard(m_hLock);
    const std::deque<float>* series = nSeries == 1 ? &m_logVoltage : nSeries == 2 ? &m_logCurrent : nullptr;
    if (!series || !pData)
        return 0;
    std::copy(series->begin(), series->end(), pData);
    m_nWindow = static_cast<int>(series->size());
    return m_nWindow;
}

int CPowerSupply::CopySeries(std::vector<float>& data, std::int16_t nSeries)
{
    m_nWindow = 0;
    std::lock_guard<std::mutex> guard(m_hLock);
    const std::deque<float>* series = nSeries == 1 ? &m_logVoltage : nSeries == 2 ? &m_logCurrent : nullptr;
    if (!series) {
        data.clear();
        return 0;
    }
    data.assign(series->begin(), series->end());
    m_nWindow = static_cast<int>(series->size());
    return m_nWindow;
}
