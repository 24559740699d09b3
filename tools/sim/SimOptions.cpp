#include "SimOptions.h"

#include "platform/BuildVersion.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace sim {

namespace {

std::string dialectNames()
{
    std::string names;
    for (const pslink::DialectInfo* d : pslink::WireDialects()) {
        if (!names.empty())
            names += '|';
        names += d->name;
    }
    return names;
}


// "ACME PSU3005 V5.5\x01\xbc": \xHH is one byte, \\ a backslash.
bool parseEscapes(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(text[i + 2]))
                   && std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            return false;
        }
    }
    return !out.empty();
}

// The options without a value: each sets one quirk of the unit.
bool takeFlag(const std::string& a, Options& o)
{
    using Quirks = pslink::SupplyResponder::Quirks;
    static const std::pair<const char*, bool Quirks::*> kFlags[] = {
        {"--noisy", &Quirks::noisyReplies},         {"--iset-stray", &Quirks::isetStray},
        {"--status-noise", &Quirks::statusNoise},   {"--max-as-setpoint", &Quirks::maxAsSetpoint},
        {"--refuse-out-of-range", &Quirks::refuseOutOfRange},
    };
    for (const auto& [name, quirk] : kFlags)
        if (a == name) {
            o.quirks.*quirk = true;
            return true;
        }
    if (a == "--no-mode-query")
        o.quirks.modeQuery = false;
    else if (a == "--back-off")
        o.backOff = true;
    else
        return false;
    return true;
}

} // namespace

void usage()
{
    std::fprintf(stderr,
                 "usage: tarnwell-sim [--dialect %s] [--load OHMS] [--latency MS] [--baud N]\n"
                 "                    [--max-volts V] [--max-amps A]\n"
                 "                    [--log FILE] [--min-gap MS] [--slow MS] [--noisy] [--eol lf|crlf|lfcr]\n"
                 "                    [--no-mode-query] [--max-as-setpoint] [--refuse-out-of-range]\n"
                 "                    [--identity TEXT] [--iset-stray] [--status-noise]\n"
                 "%s"
                 "%s"
                 "                    [--tcp PORT [--tcp-any]]   (SCPI on a TCP socket; PORT 0: any free one)\n"
                 "                    [--drop-after SECONDS [--drop-for SECONDS]] [--link PATH]\n"
                 "                    [--back-off] [--back-identity TEXT]\n"
                 "       tarnwell-sim --version\n"
                 "control lines on standard input: hang, resume, load OHMS, refuse, accept\n",
                 dialectNames().c_str(), moduleUsage(), familyUsage().c_str());
}

bool parseNumber(const char* text, double& out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end); // the C locale is never changed here
    if (end == text || *end != '\0' || errno != 0)
        return false;
    out = v;
    return true;
}

bool parseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        double n = 0.0;
        if (takeFlag(a, o)) {
        } else if (const Taken taken = parseModuleArg(a, value, o); taken != Taken::No) {
            if (taken == Taken::Bad)
                return false;
            ++i;
        } else if (!value) {
            return false;
        } else if (a == "--dialect") {
            o.dialect = pslink::FindDialect(argv[++i]);
            if (!o.dialect || !o.dialect->onWire())
                return false;
        } else if (a == "--log") {
            o.logPath = argv[++i];
        } else if (a == "--identity") {
            if (!parseEscapes(argv[++i], o.quirks.identity))
                return false;
        } else if (a == "--back-identity") {
            if (!parseEscapes(argv[++i], o.backIdentity))
                return false;
        } else if (a == "--link") {
            o.linkPath = argv[++i];
            if (o.linkPath.empty())
                return false;
        } else if (a == "--eol") {
            const std::string_view e = argv[++i];
            // Built as strings, not assigned from literals: GCC 12 at -O2 warns falsely on that.
            static const std::pair<std::string_view, std::string> kEnds[] = {
                {"lf", "\n"}, {"crlf", "\r\n"}, {"lfcr", "\n\r"}};
            const auto end = std::find_if(std::begin(kEnds), std::end(kEnds), [&](const auto& k) { return k.first == e; });
            if (end == std::end(kEnds))
                return false;
            o.quirks.lineEnd = end->second;
        } else if (parseNumber(value, n)) {
            ++i;
            if (a == "--load" && n > 0.0)
                o.loadOhms = n;
            else if (a == "--latency" && n >= 0.0 && n <= 60000.0)
                o.latencyMs = static_cast<int>(n);
            else if (a == "--baud" && n >= 0.0 && n <= 4000000.0)
                o.baud = static_cast<int>(n);
            else if (a == "--min-gap" && n >= 0.0 && n <= 60000.0)
                o.minGapMs = static_cast<int>(n);
            else if (a == "--slow" && n >= 0.0 && n <= 60000.0)
                o.slowMs = static_cast<int>(n);
            else if ((a == "--drop-after" || a == "--drop-for") && n >= 0.0 && n <= 86400.0)
                (a == "--drop-after" ? o.dropAfterMs : o.dropForMs) = static_cast<int>(std::lround(n * 1000.0));
            else if (a == "--max-volts" && n > 0.0 && n * 100.0 <= numtext::kMaxCount)
                o.maxCentivolts = static_cast<int>(std::lround(n * 100.0));
            else if (a == "--max-amps" && n > 0.0 && n * 1000.0 <= numtext::kMaxCount)
                o.maxMilliamps = static_cast<int>(std::lround(n * 1000.0));
            else
                return false;
        } else {
            return false;
        }
    }
    if (o.dropForMs >= 0 && o.dropAfterMs < 0)
        return false; // a return without a drop
    if (!finishFamily(o))
        return false;
    if (o.minGapMs < 0)
        o.minGapMs = static_cast<int>(o.dialect->unitGap.count());
    return true;
}

} // namespace sim
