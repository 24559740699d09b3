// Targets for the brand families: an identity answer and a user's model table as the family table
// reads them, and for every SCPI family tarnwell-sim's side taking apart and carrying out what a
// link sends, the link reading back what the unit was left holding.
#include "fuzz/harness/FuzzTargets.h"
#include "fuzz/harness/FuzzWire.h"

#include "device/link/SimulatedSupply.h"
#include "device/link/UnitModels.h"
#include "device/link/scpi/FamilyCommands.h"
#include "device/link/scpi/FamilyDialect.h"
#include "device/link/scpi/FamilyResponder.h"

#include <algorithm>
#include <memory>

namespace fuzz {

namespace {

constexpr int kChannel = 2;

// The identity as the table reads it, and the same text as a user's model table.
void RunUnitModels(std::string_view input)
{
    pslink::UnitTable table;
    const pslink::UnitMatch unit = table.match(std::string(input), pslink::Wire::Scpi);
    if (unit.family)
        Check(pslink::matchesPattern(unit.fields.maker, unit.family->makers), "a family chosen for another maker");
    for (int channel = 0; channel <= pslink::kMaxChannel + 1; ++channel) {
        const bool beyond = static_cast<size_t>(channel) > unit.channels.size();
        Check(!beyond || pslink::channelMaximum(unit, channel) == pslink::UnitMaximum{}, "a maximum of no channel");
        Check(!beyond || channel <= 1 || !pslink::channelRefusal(unit, channel).empty(), "a missing channel taken");
        pslink::unitNotice(unit, channel);
    }
    const auto issues = table.read(input);
    std::size_t lines = 1 + static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n'));
    for (const std::string& issue : issues)
        Check(issue.rfind("line ", 0) == 0 && std::stoul(issue.substr(5)) <= lines, "an issue without its line");
}

struct Unit
{
    std::vector<std::unique_ptr<pslink::SimulatedSupply>> channels;
    std::vector<pslink::SimulatedSupply*> pointers;
    pslink::UnitMatch match;

    explicit Unit(const pslink::Family& family)
        : match(pslink::UnitTable().match(pslink::FamilyIdentity(family, pslink::DefaultModel(family)), family.wire))
    {
        for (size_t i = 0; i < match.channels.size(); ++i) {
            channels.push_back(std::make_unique<pslink::SimulatedSupply>());
            pointers.push_back(channels.back().get());
        }
    }
    std::unique_ptr<pslink::scpi::FamilyResponder> respond(const pslink::Family& family) const
    {
        return std::make_unique<pslink::scpi::FamilyResponder>(family, pslink::DefaultModel(family), pointers,
                                                               match.channels, pslink::ResponderQuirks{});
    }
    std::string held() const
    {
        std::string text;
        for (const auto& c : channels)
            text += std::to_string(c->setCentivolts()) + "/" + std::to_string(c->setMilliamps())
                    + (c->outputOn() ? " on;" : " off;");
        return text;
    }
};

std::string Serve(const pslink::Family& family, Unit& unit, std::string_view input, std::uint64_t chunkSeed)
{
    const auto responder = unit.respond(family);
    Rng rng(chunkSeed);
    std::string replies;
    while (!input.empty()) {
        const std::size_t n = chunkSeed == 0 ? input.size() : 1 + rng.below(std::min<std::size_t>(input.size(), 16));
        for (const std::string& command : responder->feed(std::string(input.substr(0, n)))) {
            const std::string before = unit.held();
            replies += responder->execute(command);
            if (unit.held() != before && !responder->changesSupply(command))
                Fail(Quoted(command) + " changed the unit but does not count as a change");
        }
        input.remove_prefix(n);
    }
    return replies;
}

void RunFamilyCommands(const pslink::Family& family, std::string_view input)
{
    Unit atOnce(family);
    Unit inPieces(family);
    const std::string repliesAtOnce = Serve(family, atOnce, input, 0);
    if (repliesAtOnce != Serve(family, inPieces, input, Hash(input) | 1) || atOnce.held() != inPieces.held())
        Fail("the commands act differently in pieces: " + Quoted(repliesAtOnce));
    // Whatever the commands left the second channel holding, the link reads back.
    const auto responder = inPieces.respond(family);
    Loopback wire(*responder);
    pslink::scpi::FamilyDialect link(pslink::UnitTable(), kChannel);
    Check(!link.identify(wire).empty(), "the unit no longer tells its identity");
    const pslink::SimulatedSupply& supply = *inPieces.channels[kChannel - 1];
    Check(link.querySetVoltage(wire) == supply.setCentivolts(), "the voltage setpoint reads back differently");
    Check(link.querySetCurrent(wire) == supply.setMilliamps(), "the current setpoint reads back differently");
    Check(link.queryVoltage(wire) == supply.measuredCentivolts(), "the voltage reads differently");
    Check(link.queryCurrent(wire) == supply.measuredMilliamps(), "the current reads differently");
}

// What a link sends a unit of `family`: a session of changes and queries on its second channel.
std::vector<std::string> Commands(const pslink::Family& family)
{
    Unit unit(family);
    const auto responder = unit.respond(family);
    Loopback wire(*responder);
    pslink::scpi::FamilyDialect link(pslink::UnitTable(), kChannel);
    link.identify(wire);
    link.setVoltage(wire, 700);
    link.setCurrent(wire, 300);
    link.setOutput(wire, true);
    link.readAll(wire);
    link.querySetVoltage(wire);
    link.setOutput(wire, false);
    std::string session;
    for (const std::string& sent : wire.sent)
        session += sent;
    return {session};
}

} // namespace

std::vector<Target> FamilyTargets()
{
    std::vector<Target> targets;
    std::vector<std::string> identities;
    for (const pslink::Family& family : pslink::Families())
        identities.push_back(pslink::FamilyIdentity(family, pslink::DefaultModel(family)));
    identities.push_back("ACME*,XP832,rigol-dp,30/3,30V/3A,-25/1,fixed\nx,y,no-such,1/1\n");
    targets.push_back({"families.identity", &RunUnitModels, identities,
                       {",", ", ", "SN:", " ", "*", "?", "|", "/", "-", "fixed", "\n", "#", "rigol-dp"}, 512, 0, 10});
    for (const pslink::Family& family : pslink::Families()) {
        if (family.wire != pslink::Wire::Scpi)
            continue;
        std::vector<std::string> words{"\n", "\r\n", " ", "?", ":", ",", "(@2)", "1", "2", "3", "-", ".", "99.99"};
        for (const char* pattern : {family.setVoltage, family.outputOn, family.modeQuery, family.select})
            if (*pattern)
                words.push_back(pslink::scpi::expand(pattern, kChannel, "5"));
        targets.push_back({std::string(family.name) + ".commands",
                           [&family](std::string_view input) { RunFamilyCommands(family, input); }, Commands(family),
                           words, 1024, 0, 4});
    }
    return targets;
}

} // namespace fuzz
