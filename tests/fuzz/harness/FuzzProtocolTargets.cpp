// Targets for the pure protocol code: decimal readings, identities, each dialect's replies and
// commands as text, and the framers that cut the bytes of the wire into replies.
#include "fuzz/harness/FuzzOracles.h"
#include "fuzz/harness/FuzzTargets.h"
#include "fuzz/harness/FuzzWire.h"

#include "device/link/Decimal.h"
#include "device/link/Dialects.h"
#include "device/link/Identity.h"
#include "device/link/scpi/ScpiProtocol.h"
#include "device/link/text/TextProtocol.h"

#include <algorithm>
#include <cmath>

namespace fuzz {

namespace {

// The pieces a reply parser is handed: the input, its bursts, and the lines of each.
template <typename F>
void ForEachPiece(std::string_view input, F&& check)
{
    if (input.size() <= 64)
        check(std::string(input));
    for (const std::string_view burst : Bursts(input)) {
        check(std::string(burst));
        std::size_t start = 0;
        for (std::size_t i = 0; i <= burst.size(); ++i) {
            if (i < burst.size() && burst[i] != '\r' && burst[i] != '\n')
                continue;
            if (i > start && i - start < burst.size())
                check(std::string(burst.substr(start, i - start)));
            start = i + 1;
        }
    }
}

int Clamped(long long counts)
{
    return static_cast<int>(std::clamp<long long>(counts, 0, 9999));
}

// A value the caller asked for, in -1000..11999: below, inside and above the counts' range.
int AskedCounts(std::string_view input, unsigned salt)
{
    return static_cast<int>((Hash(input) >> salt) % 13000) - 1000;
}

void CheckDecimal(const std::string& text, int decimals)
{
    const std::optional<int> got = pslink::parseCounts(text, decimals);
    const std::optional<Number> want = WholeNumber(text);
    if (got) {
        if (!want)
            Fail("parseCounts(" + Quoted(text) + ") = " + std::to_string(*got) + " for no number");
        if (!CountsOf(want->value, decimals, *got))
            Fail("parseCounts(" + Quoted(text) + ", " + std::to_string(decimals) + ") = " + std::to_string(*got));
        return;
    }
    // Numbers beyond a double's range may be refused; any other number is read.
    if (want && want->inRange)
        Fail("parseCounts(" + Quoted(text) + ") refused a number");
}

void RunDecimal(std::string_view input)
{
    ForEachPiece(input, [](const std::string& piece) {
        CheckDecimal(piece, 2);
        CheckDecimal(piece, 3);
    });
    // What is formatted reads back as what was asked, held to the range.
    const int asked = AskedCounts(input, 0);
    for (const int decimals : {0, 2, 3}) {
        for (const int width : {0, 5}) {
            const std::string text = pslink::formatCounts(asked, decimals, width);
            Check(static_cast<int>(text.size()) >= width, "formatCounts narrower than asked");
            const auto back = pslink::parseCounts(text, decimals);
            if (back != std::optional<int>(Clamped(asked)))
                Fail("formatCounts(" + std::to_string(asked) + ") = " + Quoted(text) + " reads back differently");
        }
    }
}

void RunIdentity(std::string_view input)
{
    const std::string reply(input);
    const std::string identity = pslink::cleanIdentity(reply);
    const auto first = std::find_if(reply.begin(), reply.end(), PrintableByte);
    if (first == reply.end()) {
        Check(identity.empty(), "an identity made of nothing printable");
        return;
    }
    const auto last = std::find_if(reply.rbegin(), reply.rend(), PrintableByte).base();
    std::string want(first, last);
    for (char& c : want) {
        if (static_cast<unsigned char>(c) < ' ' || static_cast<unsigned char>(c) >= 0x7F)
            c = ' ';
    }
    if (identity != want)
        Fail("cleanIdentity gave " + Quoted(identity) + ", want " + Quoted(want));
}

void RunTextProtocol(std::string_view input)
{
    ForEachPiece(input, [](const std::string& piece) {
        const std::optional<long double> want = TextReading(piece);
        for (const int decimals : {2, 3}) {
            const auto got = decimals == 2 ? pslink::text::parseVoltage(piece) : pslink::text::parseCurrent(piece);
            if (got.has_value() != want.has_value())
                Fail("a plain-text reading " + Quoted(piece) + (got ? " was taken" : " was refused"));
            if (got && !CountsOf(*want, decimals, *got))
                Fail("a plain-text reading " + Quoted(piece) + " read as " + std::to_string(*got));
        }
        const auto status = pslink::text::parseStatus(piece);
        Check(status.has_value() == (piece.size() == 1), "a status reply of the wrong length");
        if (status) {
            const auto byte = static_cast<unsigned char>(piece[0]);
            Check(status->constantVoltage == ((byte & 0x01) != 0) && status->outputOn == ((byte & 0x40) != 0),
                  "status bits misread");
        }
    });
    // A setpoint command carries a reading the unit reads back as the value asked, held to range.
    const int volts = AskedCounts(input, 0);
    const int amps = AskedCounts(input, 20);
    const std::string v = pslink::text::setVoltageCommand(volts);
    const std::string i = pslink::text::setCurrentCommand(amps);
    Check(v.size() == 11 && v.rfind("VSET1:", 0) == 0 && i.size() == 11 && i.rfind("ISET1:", 0) == 0,
          "a setpoint command of the wrong form");
    Check(pslink::text::parseVoltage(v.substr(6)) == Clamped(volts), "a voltage command reads back differently");
    Check(pslink::text::parseCurrent(i.substr(6)) == Clamped(amps), "a current command reads back differently");
}

std::string UpperWord(const std::string& text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    std::string word = text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
    for (char& c : word)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return word;
}

void RunScpiProtocol(std::string_view input)
{
    ForEachPiece(input, [](const std::string& piece) {
        const std::string word = UpperWord(piece);
        const auto on = pslink::scpi::parseOnOff(piece);
        const std::optional<bool> wantOn = word == "1" || word == "ON"    ? std::optional<bool>(true)
                                           : word == "0" || word == "OFF" ? std::optional<bool>(false)
                                                                           : std::nullopt;
        if (on != wantOn)
            Fail("parseOnOff(" + Quoted(piece) + ") misread");
        const auto mode = pslink::scpi::parseMode(piece);
        Check(mode.has_value() == (word == "CV" || word == "CC"), "parseMode took or refused the wrong text");
        if (mode)
            Check((*mode == pslink::scpi::Mode::ConstantCurrent) == (word == "CC"), "parseMode misread");
        CheckDecimal(piece, 2);
        CheckDecimal(piece, 3);
    });
    const int volts = AskedCounts(input, 0);
    const int amps = AskedCounts(input, 20);
    const std::string v = pslink::scpi::setVoltageCommand(volts);
    const std::string i = pslink::scpi::setCurrentCommand(amps);
    Check(v.rfind("VOLT ", 0) == 0 && i.rfind("CURR ", 0) == 0, "a setpoint command of the wrong form");
    Check(pslink::scpi::parseCounts(v.substr(5), 2) == Clamped(volts), "a voltage command reads back differently");
    Check(pslink::scpi::parseCounts(i.substr(5), 3) == Clamped(amps), "a current command reads back differently");
}

// The first line of `burst` ended by CR or LF and not empty.
std::optional<std::string> FirstLine(std::string_view burst)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < burst.size(); ++i) {
        if (burst[i] != '\r' && burst[i] != '\n')
            continue;
        if (i > start)
            return std::string(burst.substr(start, i - start));
        start = i + 1;
    }
    return std::nullopt;
}

void RunFramers(std::string_view input)
{
    Rng rng(Hash(input));
    const int lengths[] = {0, pslink::text::kStatusLength, pslink::text::kReadingLength};
    const int expected = lengths[rng.below(3)];
    // One framer of each kind serves every reply in turn, as the probe reuses its framer: what
    // one reply leaves must never show in the next.
    pslink::text::ReplyFramer fixed(expected);
    pslink::scpi::ReplyLine line;
    const auto bursts = Bursts(input);
    for (const std::string_view burst : bursts) {
        fixed.reset();
        line.reset();
        std::string_view rest = burst;
        while (!rest.empty() && !(fixed.complete() && line.complete())) {
            const std::string chunk(rest.substr(0, 1 + rng.below(std::min<std::size_t>(rest.size(), 9))));
            rest.remove_prefix(chunk.size());
            fixed.feed(chunk);
            line.feed(chunk);
        }
        std::optional<std::string> want;
        if (expected > 0 && burst.size() >= static_cast<std::size_t>(expected))
            want = std::string(burst.substr(0, static_cast<std::size_t>(expected)));
        else if (expected == 0 && !burst.empty())
            want = std::string(burst);
        if (fixed.take() != want)
            Fail("the plain-text framer took " + Quoted(fixed.reply()) + " of " + Quoted(burst));
        if (line.take() != FirstLine(burst))
            Fail("the SCPI framer took " + Quoted(line.take().value_or("<nothing>")) + " of " + Quoted(burst));
        // Bytes past a whole reply are stray, kept apart from it.
        fixed.feed(std::string(rest));
        if (expected > 0 && fixed.complete())
            Check(fixed.reply() + fixed.stray() == std::string(burst) && fixed.take() == want,
                  "bytes after a reply went into it");
    }

    // The line framer over the whole stream: the lines between line ends, the rest partial.
    pslink::scpi::LineFramer lines;
    std::vector<std::string> got;
    for (std::string_view rest = input; !rest.empty();) {
        const std::string chunk(rest.substr(0, 1 + rng.below(std::min<std::size_t>(rest.size(), 13))));
        rest.remove_prefix(chunk.size());
        lines.feed(chunk);
        while (auto next = lines.takeLine())
            got.push_back(*next);
    }
    std::vector<std::string> want;
    std::size_t start = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '\r' || input[i] == '\n') {
            if (i > start)
                want.push_back(std::string(input.substr(start, i - start)));
            start = i + 1;
        }
    }
    Check(got == want, "the line framer's lines differ from the lines of the stream");
    Check(lines.partial() == input.substr(std::min(start, input.size())), "the line framer lost a partial line");
}

std::vector<std::string> Replies(const std::vector<Traffic>& traffic)
{
    std::vector<std::string> corpus;
    for (const Traffic& t : traffic) {
        corpus.insert(corpus.end(), t.replies.begin(), t.replies.end());
        corpus.insert(corpus.end(), t.bursts.begin(), t.bursts.end());
    }
    return corpus;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

std::vector<Target> ProtocolTargets()
{
    using namespace std::string_literals;
    std::vector<Traffic> traffic;
    for (const pslink::DialectInfo* info : pslink::WireDialects())
        traffic.push_back(Capture(*info));
    const std::vector<std::string> replies = Replies(traffic);
    // The two dialects whose texts these targets read.
    const Traffic text = Capture(*pslink::FindDialect("text"));
    const Traffic scpi = Capture(*pslink::FindDialect("scpi"));
    const std::vector<std::string> numbers{"5.00", "+5.000E+00", " 0.125 ", "12.34", "05.00", "1.000", "-0.5", ".5",
                                           "5.", "1e3", "9999", "0", "ON", "off", " cv ", "CC", "1", "0"};
    const std::vector<std::string> words{"\r", "\n", "\r\n", "\n\r", std::string(kBurst), ".", "+", "-", "e", "E",
                                         " ", "\t", "0", "9", "99.99", "9.999", "CV", "CC", "ON", "OFF", "A", "\x01",
                                         "\0"s, "\xff"};
    const std::vector<std::string> identities{"TARNWELL-SIM V1.0", "ACME PSU3005 V5.5 SN:59834414\x01\xbc",
                                              "TARNWELL-SIM V1.0\r\n\0\xff"s, " \x7f", "", "\t\tPSU\0 V2.0"s};

    std::vector<Target> targets;
    targets.push_back({"Decimal", &RunDecimal, Joined(numbers, replies), words, 512, 0, 10});
    targets.push_back({"Identity", &RunIdentity, Joined(identities, replies), words, 512, 0, 10});
    targets.push_back({"TextProtocol", &RunTextProtocol, Joined(numbers, text.bursts), words, 256, 0, 10});
    targets.push_back({"ScpiProtocol", &RunScpiProtocol, Joined(numbers, scpi.bursts), words, 256, 0, 10});
    targets.push_back({"Framers", &RunFramers, replies, words, 1024, 0, 10});
    return targets;
}

} // namespace fuzz
