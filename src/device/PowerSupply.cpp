#include "device/PowerSupply.h"

#include "device/pslink.h"
#include "platform/Dialogs.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

namespace {

constexpr int kLiveWindow = 35; // samples the live wave of a user-mode run shows

// Four digits, most significant first; values without a four-digit form are clamped.
void encodeCount(double scaled, unsigned char* pDigits)
{
    long n = 0;
    if (!std::isnan(scaled))
        n = static_cast<long>(std::clamp(scaled + 0.1, 0.0, 9999.0));
    pDigits[0] = static_cast<unsigned char>(n / 1000);
    pDigits[1] = static_cast<unsigned char>((n % 1000) / 100);
    pDigits[2] = static_cast<unsigned char>((n % 100) / 10);
    pDigits[3] = static_cast<unsigned char>(n % 10);
}

int decodeCount(const unsigned char* pDigits)
{
    return pDigits[0] * 1000 + pDigits[1] * 100 + pDigits[2] * 10 + pDigits[3];
}

// "%.Nf" without the process locale (a German locale must still write "5.00").
void appendFixed(std::string& out, double value, int decimals)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, res.ec == std::errc() ? res.ptr : buf);
}

void appendInt(std::string& out, long value)
{
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

CPowerSupply::CPowerSupply() = default;
CPowerSupply::~CPowerSupply() = default;

// ---- Digit form ----

void CPowerSupply::EncodeVoltage(float fVolts, unsigned char* pDigits)
{
    encodeCount(static_cast<double>(fVolts) * 100.0, pDigits);
}

void CPowerSupply::EncodeCurrent(float fAmps, unsigned char* pDigits)
{
    encodeCount(static_cast<double>(fAmps) * 1000.0, pDigits);
}

float CPowerSupply::DecodeVoltage(const unsigned char* pDigits)
{
    return static_cast<float>(decodeCount(pDigits) / 100.0);
}

float CPowerSupply::DecodeCurrent(const unsigned char* pDigits)
{
    return static_cast<float>(decodeCount(pDigits) / 1000.0);
}

// ---- Number reading ----

long CPowerSupply::ParseInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) { // saturate like the 32-bit conversion instead of overflowing
            value = INT_MAX;
            while (i < text.size() && isDigit(text[i]))
                ++i;
            break;
        }
    }
    return static_cast<long>(negative ? -value : value);
}

double CPowerSupply::ParseFloat(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
        }
    }
    const char* first = text.data() + start;
    if (*first == '+')
        ++first;
    double value = 0.0;
    const auto res = std::from_chars(first, text.data() + i, value);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small (negative exponent) reads as 0; too large keeps its sign.
        const std::string_view number(first, static_cast<size_t>(text.data() + i - first));
        const size_t e = number.find_first_of("eE");
        if (e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-')
            return 0.0;
        const bool negative = *first == '-';
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    return value;
}

bool CPowerSupply::HasExtension(const QString& path, const QString& ext)
{
    return path.size() >= ext.size() && path.right(ext.size()).compare(ext, Qt::CaseInsensitive) == 0;
}

// ---- Device operations ----

int CPowerSupply::Connect()
{
    if (OpenCOM(m_nDevice, m_nPort) == 0)
        return 0;
    if (dsoReadVersion(m_nDevice, m_abVersion) == 0)
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
        EncodeVoltage(fVolts, m_abSetVoltage);
        return dsoSetVoltage(m_nDevice, m_abSetVoltage);
    }
    EncodeCurrent(fAmps, m_abSetCurrent);
    return dsoSetCurrent(m_nDevice, m_abSetCurrent);
}

int CPowerSupply::ApplyNextPoint()
{
    unsigned char abVoltage[5] = {};
    unsigned char abCurrent[5] = {};
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        const int index = m_nPlayIndex.load();
        // A run whose lists hold fewer points than announced (its file vanished between the count
        // and the load) ends instead of reading past them.
        if (index < 0 || index >= m_nPlayTotal.load() || static_cast<size_t>(index) >= m_playVoltage.size() ||
            static_cast<size_t>(index) >= m_playCurrent.size()) {
            m_bFinished = 1;
            return 1;
        }
        const float fVolts = m_playVoltage[static_cast<size_t>(index)];
        const float fAmps = m_playCurrent[static_cast<size_t>(index)];
        m_nPlayIndex = index + 1;
        m_strSetVoltage = QString::number(static_cast<double>(fVolts), 'f', 2);
        m_strSetCurrent = QString::number(static_cast<double>(fAmps), 'f', 3);
        m_fVoltage = fVolts;
        m_fCurrent = fAmps;
        EncodeVoltage(fVolts, m_abSetVoltage);
        EncodeCurrent(fAmps, m_abSetCurrent);
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
    const float fVolts = DecodeVoltage(abVoltage);
    const float fAmps = DecodeCurrent(abCurrent);

    ++m_nWindow;
    m_strVoltage = QString::number(static_cast<double>(fVolts), 'f', 2);
    m_strCurrent = QString::number(static_cast<double>(fAmps), 'f', 3);
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
    m_fVoltage = DecodeVoltage(m_abReadVoltage);
    m_fCurrent = DecodeCurrent(m_abReadCurrent);

    std::string row;
    row.reserve(32);
    appendInt(row, sample);
    row += ',';
    appendFixed(row, static_cast<double>(m_fVoltage), 2);
    row += ',';
    appendFixed(row, static_cast<double>(m_fCurrent), 3);
    row += '\n';

    std::lock_guard<std::mutex> guard(m_hLock);
    m_rows.push_back(std::move(row));
    const bool full = ++m_nWindow > kLiveWindow;
    if (full) {
        m_nWindow = kLiveWindow;
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
        for (int pass = 0; pass < cycles; ++pass) {
            m_logTime.insert(m_logTime.end(), m_progTime.begin(), m_progTime.end());
            m_logVoltage.insert(m_logVoltage.end(), m_progVoltage.begin(), m_progVoltage.end());
            m_logCurrent.insert(m_logCurrent.end(), m_progCurrent.begin(), m_progCurrent.end());
        }
        return 1;
    }

    const long long total =
        cycles > 0 ? std::clamp<long long>(static_cast<long long>(m_nPointsPerCycle.load()) * cycles, 0, INT_MAX) : 0;
    m_nPlayTotal = static_cast<int>(total);
    // The program lists already hold every pass; playback reads only the first m_nPlayTotal
    // entries, so copying more would only cost memory (cycles squared).
    const size_t want = static_cast<size_t>(total);
    for (int pass = 0; pass < cycles && m_playTime.size() < want; ++pass) {
        const size_t n = std::min(m_progTime.size(), want - m_playTime.size());
        if (n == 0)
            break;
        m_playTime.insert(m_playTime.end(), m_progTime.begin(), m_progTime.begin() + static_cast<long>(n));
        m_playVoltage.insert(m_playVoltage.end(), m_progVoltage.begin(),
                             m_progVoltage.begin() + static_cast<long>(std::min(n, m_progVoltage.size())));
        m_playCurrent.insert(m_playCurrent.end(), m_progCurrent.begin(),
                             m_progCurrent.begin() + static_cast<long>(std::min(n, m_progCurrent.size())));
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
