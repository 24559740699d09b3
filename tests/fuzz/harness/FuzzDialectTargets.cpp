// Two targets for every dialect in the registry, so a new dialect is fuzzed as soon as it is
// listed: "<name>.replies", the link's side reading what a unit sends, and "<name>.commands",
// tarnwell-sim's side taking apart and carrying out what a link sends.
#include "fuzz/harness/FuzzTargets.h"
#include "fuzz/harness/FuzzWire.h"

#include "device/link/Dialects.h"
#include "device/link/PortSetting.h"
#include "device/link/SimulatedSupply.h"

namespace fuzz {

namespace {

constexpr std::size_t kSessionCalls = 64;

void RunReplies(const pslink::DialectInfo& info, std::string_view input)
{
    // Read once as if each reply came at once, once as it comes through a USB bridge in pieces:
    // the link must read the same.
    const auto whole = info.open(pslink::PortSetting{});
    ScriptedWire wireWhole(input, 0);
    const std::string atOnce = RunSession(*whole, wireWhole, wireWhole, kSessionCalls, &wireWhole);
    const auto pieces = info.open(pslink::PortSetting{});
    ScriptedWire wirePieces(input, Hash(input) | 1);
    const std::string inPieces = RunSession(*pieces, wirePieces, wirePieces, kSessionCalls, &wirePieces);
    if (atOnce != inPieces)
        Fail("the replies read differently in pieces:\n" + atOnce + "-- in pieces:\n" + inPieces);
}

struct Setting
{
    int centivolts;
    int milliamps;
    bool on;
    bool operator==(const Setting&) const = default;
};

Setting SettingOf(const pslink::SimulatedSupply& supply)
{
    return {supply.setCentivolts(), supply.setMilliamps(), supply.outputOn()};
}

// Feeds `input` to a fresh responder on `supply` in pieces (`chunkSeed` 0: at once), with a pause
// between pieces now and then when `gaps`; carries out every command. The replies, in order.
std::string Serve(const pslink::DialectInfo& info, pslink::SimulatedSupply& supply,
                  const pslink::ResponderQuirks& quirks, std::string_view input, std::uint64_t chunkSeed, bool gaps)
{
    const auto responder = info.respond(supply, quirks);
    Rng rng(chunkSeed);
    std::string replies;
    std::size_t commandBytes = 0;
    const std::size_t inputBytes = input.size();
    while (!input.empty()) {
        const std::size_t n = chunkSeed == 0 ? input.size() : 1 + rng.below(std::min<std::size_t>(input.size(), 16));
        for (const std::string& command : responder->feed(std::string(input.substr(0, n)))) {
            Check(!command.empty(), "an empty command");
            commandBytes += command.size();
            const Setting before = SettingOf(supply);
            replies += responder->execute(command);
            const bool changes = responder->changesSupply(command);
            if (SettingOf(supply) != before && !changes)
                Fail(Quoted(command) + " changed the supply but does not count as a change");
            Check(!changes || responder->leavesBusy(command), "a change that does not leave the unit busy");
        }
        input.remove_prefix(n);
        if (gaps && rng.oneIn(4))
            responder->discardPartial();
    }
    Check(commandBytes <= inputBytes, "commands longer than what came");
    return replies;
}

// Whatever commands left the supply holding, the link reads it back.
void CheckReadBack(const pslink::DialectInfo& info, pslink::SimulatedSupply& supply,
                   const pslink::ResponderQuirks& quirks)
{
    const auto responder = info.respond(supply, quirks);
    Loopback wire(*responder);
    const auto link = info.open(pslink::PortSetting{});
    Check(!link->identify(wire).empty(), "the unit no longer tells its identity");
    const Setting held = SettingOf(supply);
    if (link->querySetVoltage(wire) != held.centivolts)
        Fail("the voltage setpoint " + std::to_string(held.centivolts) + " reads back differently");
    if (link->querySetCurrent(wire) != held.milliamps)
        Fail("the current setpoint " + std::to_string(held.milliamps) + " reads back differently");
    Check(link->queryOutput(wire) == held.on, "the output reads back differently");
    Check(link->queryVoltage(wire) == supply.measuredCentivolts(), "the voltage reads differently");
    Check(link->queryCurrent(wire) == supply.measuredMilliamps(), "the current reads differently");
    const auto state = link->queryState(wire);
    Check(state && state->outputOn == held.on, "the state reads differently");
}

void RunCommands(const pslink::DialectInfo& info, std::string_view input)
{
    const pslink::ResponderQuirks quirks = QuirksOf(Hash(input));
    pslink::SimulatedSupply atOnce;
    pslink::SimulatedSupply inPieces;
    const std::string repliesAtOnce = Serve(info, atOnce, quirks, input, 0, false);
    const std::string repliesInPieces = Serve(info, inPieces, quirks, input, Hash(input) | 1, false);
    if (repliesAtOnce != repliesInPieces || SettingOf(atOnce) != SettingOf(inPieces))
        Fail("the commands act differently in pieces: replies \"" + Escape(repliesAtOnce, 300) + "\" and \""
             + Escape(repliesInPieces, 300) + "\"");
    pslink::SimulatedSupply withGaps;
    Serve(info, withGaps, quirks, input, Hash(input) * 3 | 1, true);
    CheckReadBack(info, inPieces, quirks);
    CheckReadBack(info, withGaps, quirks);
}

} // namespace

std::vector<Target> DialectTargets()
{
    std::vector<Target> targets;
    for (const pslink::DialectInfo* info : pslink::WireDialects()) {
        const Traffic traffic = Capture(*info);
        std::vector<std::string> replyWords = traffic.bursts;
        replyWords.push_back(std::string(kBurst));
        targets.push_back({std::string(info->name) + ".replies",
                           [info](std::string_view input) { RunReplies(*info, input); }, traffic.replies, replyWords,
                           2048, 0, 10});
        std::vector<std::string> commandWords = traffic.words;
        for (const char* word : {"\n", "\r", "\r\n", " ", "?", ":", "1", "0", ".", "-", "e", "99.99", "9.999"})
            commandWords.push_back(word);
        targets.push_back({std::string(info->name) + ".commands",
                           [info](std::string_view input) { RunCommands(*info, input); }, traffic.commands,
                           commandWords, 1024, 0, 10});
    }
    return targets;
}

} // namespace fuzz
