#include "device/link/modbus/ModbusModels.h"

#include "device/NumberText.h"

#include "device/link/CsvLines.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace pslink::modbus {

namespace {

constexpr int kMaxDecimals = 4;
constexpr long long kMaxRegister = 0xFFFF;
constexpr int kLinkVoltDecimals = 2;
constexpr int kLinkAmpDecimals = 3;

constexpr LayoutMap kLayoutA{Layout::A, 0, 3, kNoRegister, 8, 9, 10, 11, 16, false, 17, 18};
constexpr LayoutMap kLayoutB{Layout::B, 11, 12, kNoRegister, 0, 1, 2, 3, 7, false, 8, 9};
constexpr LayoutMap kLayoutC{Layout::C, 3, kNoRegister, 5, 0x30, 0x31, 0x10, 0x11, 2, true, kNoRegister, 1};

constexpr std::array<Model, 7> kBuiltIn{{
    {60062, Layout::A, 2, 3, 60, 6},
    {60065, Layout::A, 3, 4, 60, 6},
    {60121, Layout::A, 2, 2, 60, 12},
    {60181, Layout::A, 2, 2, 60, 18},
    {5005, Layout::B, 2, 3, 50, 5},
    {3005, Layout::B, 2, 3, 30, 5},
    {5020, Layout::B, 2, 2, 50, 20},
}};

long long power10(int n)
{
    long long p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

// A maximum the register cannot hold at the model's scale would wrap round to a small value.
bool fitsRegister(double maximum, int decimals)
{
    return maximum * static_cast<double>(power10(decimals)) <= static_cast<double>(kMaxRegister);
}

// One line of modules.csv as a model, or why it is none.
std::optional<Model> parseLine(const std::vector<std::string_view>& f, std::string& why)
{
    if (f.size() != 6) {
        why = "expected 6 fields (id,layout,voltDecimals,ampDecimals,voltsMax,ampsMax), found " +
              std::to_string(f.size());
        return std::nullopt;
    }
    Model m{};
    if (!numtext::ParseWhole(f[0], m.id) || m.id < 1 || m.id > kMaxRegister) {
        why = "the id is no register value 1..65535";
        return std::nullopt;
    }
    const std::string_view letter = f[1];
    if (letter.size() != 1 || std::string_view("ABCabc").find(letter[0]) == std::string_view::npos) {
        why = "the layout is not A, B or C";
        return std::nullopt;
    }
    m.layout = static_cast<Layout>(std::toupper(static_cast<unsigned char>(letter[0])) - 'A');
    if (!numtext::ParseWhole(f[2], m.voltDecimals) || !numtext::ParseWhole(f[3], m.ampDecimals) ||
        std::min(m.voltDecimals, m.ampDecimals) < 0 ||
        std::max(m.voltDecimals, m.ampDecimals) > kMaxDecimals) {
        why = "decimals must be 0..4";
        return std::nullopt;
    }
    if (!numtext::ParseWhole(f[4], m.voltsMax) || !numtext::ParseWhole(f[5], m.ampsMax) ||
        !(m.voltsMax > 0) || !(m.ampsMax > 0) || !std::isfinite(m.voltsMax) || !std::isfinite(m.ampsMax)) {
        why = "the maxima must be numbers above 0";
        return std::nullopt;
    }
    if (!fitsRegister(m.voltsMax, m.voltDecimals) || !fitsRegister(m.ampsMax, m.ampDecimals)) {
        why = "a maximum does not fit a register at that many decimals";
        return std::nullopt;
    }
    return m;
}

} // namespace

char layoutLetter(Layout layout)
{
    return static_cast<char>('A' + static_cast<int>(layout));
}

const LayoutMap& layoutMap(Layout layout)
{
    switch (layout) {
    case Layout::A:
        return kLayoutA;
    case Layout::B:
        return kLayoutB;
    case Layout::C:
        break;
    }
    return kLayoutC;
}

std::optional<Decimals> decodeDecimals(std::uint16_t word)
{
    const Decimals d{word >> 8 & 0xF, word >> 4 & 0xF, word & 0xF};
    // No supply of this kind sets whole volts or amperes: a zero there is some other register.
    if (word >> 12 != 0 || std::max({d.volt, d.amp, d.watt}) > kMaxDecimals || d.volt == 0 || d.amp == 0)
        return std::nullopt;
    return d;
}

std::optional<Model> selfDescribedModel(int id, std::uint16_t decimalsWord)
{
    const auto d = decodeDecimals(decimalsWord);
    const int volts = id / 100;
    const int amps = id % 100;
    if (!d || volts < 1 || amps < 1 || !fitsRegister(volts, d->volt) || !fitsRegister(amps, d->amp))
        return std::nullopt;
    return Model{id, Layout::C, d->volt, d->amp, static_cast<double>(volts), static_cast<double>(amps)};
}

long long rescale(long long value, int fromDecimals, int toDecimals)
{
    if (toDecimals >= fromDecimals)
        return value * power10(toDecimals - fromDecimals);
    const long long d = power10(fromDecimals - toDecimals);
    return value >= 0 ? (value + d / 2) / d : -((-value + d / 2) / d);
}

int centivoltsOf(int raw, const Model& model)
{
    return static_cast<int>(
        std::clamp<long long>(rescale(raw, model.voltDecimals, kLinkVoltDecimals), 0, numtext::kMaxCount));
}

int milliampsOf(int raw, const Model& model)
{
    return static_cast<int>(
        std::clamp<long long>(rescale(raw, model.ampDecimals, kLinkAmpDecimals), 0, numtext::kMaxCount));
}

std::uint16_t voltsRegister(int centivolts, const Model& model)
{
    return static_cast<std::uint16_t>(
        std::clamp<long long>(rescale(centivolts, kLinkVoltDecimals, model.voltDecimals), 0, kMaxRegister));
}

std::uint16_t ampsRegister(int milliamps, const Model& model)
{
    return static_cast<std::uint16_t>(
        std::clamp<long long>(rescale(milliamps, kLinkAmpDecimals, model.ampDecimals), 0, kMaxRegister));
}

int maxCentivolts(const Model& model)
{
    return static_cast<int>(std::min<long long>(std::llround(model.voltsMax * 100), numtext::kMaxCount));
}

int maxMilliamps(const Model& model)
{
    return static_cast<int>(std::min<long long>(std::llround(model.ampsMax * 1000), numtext::kMaxCount));
}

std::string userModelsPath()
{
    return configFilePath("modules.csv");
}

ModelTable::ModelTable()
{
    for (const Model& m : kBuiltIn)
        add(m);
}

ModelTable ModelTable::installed()
{
    ModelTable table;
    table.readFile(userModelsPath());
    return table;
}

const Model* ModelTable::find(int id) const
{
    const auto found = m_models.find(id);
    return found == m_models.end() ? nullptr : &found->second;
}

void ModelTable::add(const Model& model)
{
    m_models.insert_or_assign(model.id, model);
}

std::vector<std::string> ModelTable::read(std::string_view text)
{
    return readCsvText(text, [this](const std::vector<std::string_view>& fields) { return take(fields); });
}

std::string ModelTable::take(const std::vector<std::string_view>& fields)
{
    std::string why;
    if (const auto model = parseLine(fields, why))
        add(*model);
    return why;
}

std::vector<std::string> ModelTable::readFile(const std::string& path)
{
    m_userPath = path;
    std::vector<std::string> issues =
        readCsvFile(path, [this](const std::vector<std::string_view>& fields) { return take(fields); });
    m_issues.insert(m_issues.end(), issues.begin(), issues.end());
    return issues;
}

std::string ModelTable::refusal(int id) const
{
    const std::string idText = std::to_string(id);
    return "unknown Modbus module model " + idText +
           ": a wrong scale would set ten times the voltage, so it "
           "is not spoken to; add a line \"" +
           idText + ",layout,voltDecimals,ampDecimals,voltsMax,ampsMax\" to " +
           (m_userPath.empty() ? userModelsPath() : m_userPath);
}

} // namespace pslink::modbus
