#pragma once

// What the modules are: where each layout keeps its values, and each model's scales and
// maxima. A wrong scale sets ten times the voltage, so a module is only spoken to once its model
// is known from this table or describes its own scales.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pslink::modbus {

enum class Layout { A, B, C };

char layoutLetter(Layout layout);

constexpr int kNoRegister = -1;

/// Where a layout keeps each value; kNoRegister where it has none.
struct LayoutMap
{
    Layout layout;
    int modelId;
    int firmware; ///< the version times 100
    int decimals; ///< layout C's own scales (see Decimals)
    int voltageSet;
    int currentSet;
    int voltageOut;
    int currentOut;
    int protection;
    bool protectionMask; ///< a bit per protection (C); else one code, 0 for none
    int mode;            ///< 0 constant voltage, 1 constant current
    int output;          ///< 1 on
};

const LayoutMap& layoutMap(Layout layout);

/// A model's scales (decimals of the register values) and maxima.
struct Model
{
    int id;
    Layout layout;
    int voltDecimals;
    int ampDecimals;
    double voltsMax;
    double ampsMax;
};

/// Layout C's decimals word: (volt decimals << 8) | (ampere decimals << 4) | watt decimals.
struct Decimals
{
    int volt;
    int amp;
    int watt;
};
/// nullopt when the word is no such description: a field past 4, bits above the three fields, or
/// no decimals for volts or amperes.
std::optional<Decimals> decodeDecimals(std::uint16_t word);
/// A layout-C unit from its model id, read as volts then amperes (3010: 30 V, 10 A), and its
/// decimals word; nullopt when they make no unit (no volts or amperes in the id, a maximum its
/// scale cannot hold in a register).
std::optional<Model> selfDescribedModel(int id, std::uint16_t decimalsWord);

/// Counts of 10^-fromDecimals as counts of 10^-toDecimals, rounded half up.
long long rescale(long long value, int fromDecimals, int toDecimals);
/// A register value as centivolts / milliamps, held to 0..numtext::kMaxCount.
int centivoltsOf(int raw, const Model& model);
int milliampsOf(int raw, const Model& model);
/// Centivolts / milliamps as the register value, held to 0..65535.
std::uint16_t voltsRegister(int centivolts, const Model& model);
std::uint16_t ampsRegister(int milliamps, const Model& model);
/// The highest setpoint to send: the lower of the model's maximum and what the digit buffer holds.
int maxCentivolts(const Model& model);
int maxMilliamps(const Model& model);

/// Where a user adds models without rebuilding: modules.csv in the tarnwell configuration folder.
std::string userModelsPath();

/// The models spoken to: the built-in ones, and those a user added or corrected.
class ModelTable
{
public:
    /// The built-in models.
    ModelTable();
    /// The built-in models and the lines of userModelsPath().
    static ModelTable installed();

    const Model* find(int id) const;
    /// Adds `model`, replacing one of the same id.
    void add(const Model& model);
    /// Adds the models of modules.csv text: lines "id,layout,voltDecimals,ampDecimals,voltsMax,
    /// ampsMax" (layout A, B or C), blank lines and '#' comments. Returns one text per bad line,
    /// "line 3: ...", and skips it.
    std::vector<std::string> read(std::string_view text);
    /// read() of the file at `path`, remembered as where models are added; no file, no issues.
    std::vector<std::string> readFile(const std::string& path);

    /// The issues of the files read, each naming its file and line.
    const std::vector<std::string>& issues() const { return m_issues; }
    /// The refusal of a module whose model is unknown: names the id and where to add it.
    std::string refusal(int id) const;

private:
    std::string take(const std::vector<std::string_view>& fields);

    std::map<int, Model> m_models;
    std::string m_userPath;
    std::vector<std::string> m_issues;
};

} // namespace pslink::modbus
