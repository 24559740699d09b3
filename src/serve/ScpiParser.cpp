#include "serve/ScpiParser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

namespace scpiserve {

namespace {

enum class Takes { Nothing, Level, Switch, Keyword }; // Keyword: an optional MIN/MAX after a query

struct Pattern
{
    const char* header; ///< "[SOURce]:VOLTage[:LEVel]": optional nodes in brackets, short form in capitals
    Command command;
    bool query;
    Takes takes;
    char unit; ///< the unit suffix a number may carry ('V', 'A'), 0 for none
};

constexpr Pattern kPatterns[] = {
    {"*IDN", Command::Idn, true, Takes::Nothing, 0},
    {"*RST", Command::Rst, false, Takes::Nothing, 0},
    {"*CLS", Command::Cls, false, Takes::Nothing, 0},
    {"*OPC", Command::Opc, false, Takes::Nothing, 0},
    {"*OPC", Command::OpcQuery, true, Takes::Nothing, 0},
    {"*WAI", Command::Wai, false, Takes::Nothing, 0},
    {"SYSTem:ERRor[:NEXT]", Command::ErrorQuery, true, Takes::Nothing, 0},
    {"[SOURce]:VOLTage[:LEVel][:IMMediate][:AMPLitude]", Command::Volt, false, Takes::Level, 'V'},
    {"[SOURce]:VOLTage[:LEVel][:IMMediate][:AMPLitude]", Command::VoltQuery, true, Takes::Keyword, 0},
    {"[SOURce]:CURRent[:LEVel][:IMMediate][:AMPLitude]", Command::Curr, false, Takes::Level, 'A'},
    {"[SOURce]:CURRent[:LEVel][:IMMediate][:AMPLitude]", Command::CurrQuery, true, Takes::Keyword, 0},
    {"OUTPut[:STATe]", Command::Outp, false, Takes::Switch, 0},
    {"OUTPut[:STATe]", Command::OutpQuery, true, Takes::Nothing, 0},
    {"OUTPut:MODE", Command::ModeQuery, true, Takes::Nothing, 0},
    {"OUTPut:PROTection:TRIPped", Command::TripQuery, true, Takes::Nothing, 0},
    {"MEASure[:SCALar]:VOLTage[:DC]", Command::MeasVolt, true, Takes::Nothing, 0},
    {"MEASure[:SCALar]:CURRent[:DC]", Command::MeasCurr, true, Takes::Nothing, 0},
};

struct Node
{
    std::string longForm;  ///< upper case
    std::string shortForm; ///< upper case
    bool optional;
};

std::string Upper(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::vector<Node> NodesOf(std::string_view header)
{
    std::vector<Node> nodes;
    size_t i = 0;
    while (i < header.size()) {
        const bool optional = header[i] == '[';
        if (optional)
            ++i;
        if (i < header.size() && header[i] == ':')
            ++i;
        size_t end = i;
        while (end < header.size() && header[end] != ':' && header[end] != '[' && header[end] != ']')
            ++end;
        const std::string_view name = header.substr(i, end - i);
        const size_t shortLength = static_cast<size_t>(
            std::find_if(name.begin(), name.end(), [](char c) { return std::islower(static_cast<unsigned char>(c)); })
            - name.begin());
        nodes.push_back({Upper(name), Upper(name.substr(0, shortLength)), optional});
        i = end;
        if (i < header.size() && header[i] == ']')
            ++i;
    }
    return nodes;
}

bool Matches(const std::vector<std::string>& tokens, size_t t, const std::vector<Node>& nodes, size_t n)
{
    if (n == nodes.size())
        return t == tokens.size();
    if (nodes[n].optional && Matches(tokens, t, nodes, n + 1))
        return true;
    return t < tokens.size() && (tokens[t] == nodes[n].longForm || tokens[t] == nodes[n].shortForm)
           && Matches(tokens, t + 1, nodes, n + 1);
}

const Pattern* Find(const std::vector<std::string>& tokens, bool query)
{
    static const auto kTree = [] {
        std::vector<std::vector<Node>> tree;
        for (const Pattern& pattern : kPatterns)
            tree.push_back(NodesOf(pattern.header));
        return tree;
    }();
    for (size_t i = 0; i < std::size(kPatterns); ++i) {
        if (kPatterns[i].query == query && Matches(tokens, 0, kTree[i], 0))
            return &kPatterns[i];
    }
    return nullptr;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// The commands of a line: split at semicolons that are not inside a quoted string. An
// unterminated quote makes the rest one command, which then fails as a syntax error.
std::vector<std::string_view> Split(std::string_view line)
{
    std::vector<std::string_view> parts;
    char quote = 0;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            parts.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(line.substr(start));
    return parts;
}

std::optional<Value> Keyword(const std::string& word)
{
    static const struct
    {
        const char* longForm;
        const char* shortForm;
        Value::Kind kind;
    } kWords[] = {{"MINIMUM", "MIN", Value::Minimum}, {"MAXIMUM", "MAX", Value::Maximum},
                  {"DEFAULT", "DEF", Value::Default}, {"ON", "ON", Value::On}, {"OFF", "OFF", Value::Off}};
    for (const auto& w : kWords) {
        if (word == w.longForm || word == w.shortForm)
            return Value{w.kind, 0.0};
    }
    return std::nullopt;
}

// A decimal number with an optional exponent and, for a level, its unit: "5", "+1.5E1", "250 mV".
std::optional<double> Number(std::string_view text, char unit)
{
    double number = 0.0;
    const auto [end, error] = std::from_chars(text.data() + (text.starts_with('+') ? 1 : 0), text.data() + text.size(), number);
    if (error != std::errc() || !std::isfinite(number))
        return std::nullopt;
    const std::string suffix = Upper(Trim(std::string_view(end, static_cast<size_t>(text.data() + text.size() - end))));
    if (suffix.empty())
        return number;
    if (unit != 0 && suffix == std::string(1, unit))
        return number;
    if (unit != 0 && suffix == std::string("M") + unit)
        return number / 1000.0;
    return std::nullopt;
}

Request Resolve(const Pattern& pattern, std::string_view parameter)
{
    Request request;
    request.command = pattern.command;
    const std::string word = Upper(parameter);
    switch (pattern.takes) {
    case Takes::Nothing:
        if (!parameter.empty())
            return {std::nullopt, std::nullopt, kSyntaxError};
        return request;
    case Takes::Keyword:
        if (parameter.empty())
            return request;
        request.value = Keyword(word);
        if (!request.value || (request.value->kind != Value::Minimum && request.value->kind != Value::Maximum))
            return {std::nullopt, std::nullopt, kSyntaxError};
        return request;
    case Takes::Switch:
        if (parameter.empty())
            return {std::nullopt, std::nullopt, kMissingParameter};
        if (word == "1" || word == "0")
            request.value = Value{word == "1" ? Value::On : Value::Off, 0.0};
        else if (auto value = Keyword(word); value && (value->kind == Value::On || value->kind == Value::Off))
            request.value = value;
        else
            return {std::nullopt, std::nullopt, kSyntaxError};
        return request;
    case Takes::Level:
        if (parameter.empty())
            return {std::nullopt, std::nullopt, kMissingParameter};
        if (auto value = Keyword(word); value && value->kind != Value::On && value->kind != Value::Off)
            request.value = value;
        else if (const auto number = Number(parameter, pattern.unit))
            request.value = Value{Value::Number, *number};
        else
            return {std::nullopt, std::nullopt, kSyntaxError};
        return request;
    }
    return request;
}

bool IsMnemonic(const std::string& token)
{
    return !token.empty() && std::isalpha(static_cast<unsigned char>(token.front()))
           && std::all_of(token.begin(), token.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

} // namespace

bool Request::isQuery() const
{
    for (const Pattern& pattern : kPatterns) {
        if (command && pattern.command == *command)
            return pattern.query;
    }
    return false;
}

std::vector<Request> ParseLine(std::string_view line)
{
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    std::vector<Request> requests;
    if (Trim(line).empty())
        return requests;
    std::vector<std::string> path; // the nodes a command without a leading colon starts from
    for (std::string_view part : Split(line)) {
        part = Trim(part);
        const size_t blank = std::min(part.size(), static_cast<size_t>(std::find_if(part.begin(), part.end(), [](char c) {
                                                                           return std::isspace(static_cast<unsigned char>(c));
                                                                       }) - part.begin()));
        std::string header = Upper(part.substr(0, blank));
        const std::string_view parameter = Trim(part.substr(blank));
        const bool query = header.ends_with('?');
        if (query)
            header.pop_back();
        if (header.empty()) {
            requests.push_back({std::nullopt, std::nullopt, kSyntaxError});
            continue;
        }
        if (header.front() == '*') {
            // A common command leaves the path where it was.
            const Pattern* pattern = IsMnemonic(header.substr(1)) ? Find({header}, query) : nullptr;
            requests.push_back(pattern ? Resolve(*pattern, parameter) : Request{std::nullopt, std::nullopt, kUndefinedHeader});
            continue;
        }
        const bool fromRoot = header.front() == ':';
        std::vector<std::string> typed;
        bool wellFormed = true;
        for (size_t i = fromRoot ? 1 : 0, next = 0; i <= header.size(); i = next + 1) {
            next = std::min(header.find(':', i), header.size());
            typed.push_back(header.substr(i, next - i));
            wellFormed = wellFormed && IsMnemonic(typed.back());
        }
        if (!wellFormed) {
            requests.push_back({std::nullopt, std::nullopt, kSyntaxError});
            continue;
        }
        std::vector<std::string> tokens = fromRoot ? std::vector<std::string>{} : path;
        tokens.insert(tokens.end(), typed.begin(), typed.end());
        const Pattern* pattern = Find(tokens, query);
        if (!pattern && !fromRoot && !path.empty()) {
            // Many clients write "VOLT:LEV 5;CURR 1" meaning the root: taken as they mean it.
            tokens = typed;
            pattern = Find(tokens, query);
        }
        if (!pattern) {
            requests.push_back({std::nullopt, std::nullopt, kUndefinedHeader});
            continue;
        }
        tokens.pop_back();
        path = std::move(tokens);
        requests.push_back(Resolve(*pattern, parameter));
    }
    return requests;
}

} // namespace scpiserve
