#include "device/link/text/TextDialect.h"

#include "device/link/Identity.h"
#include "device/link/text/TextProtocol.h"
#include "device/link/text/TextResponder.h"

namespace pslink::text {

namespace {

std::unique_ptr<Dialect> openText()
{
    return std::make_unique<TextDialect>();
}

std::unique_ptr<SupplyResponder> respondText(SimulatedSupply& supply, const ResponderQuirks& quirks)
{
    return std::make_unique<TextResponder>(supply, quirks);
}

} // namespace

// The link keeps a margin over the units' minimum: a unit that drops a command costs a whole
// tick, and a USB bridge may hold one command back a little and pass the next on at once.
constinit const DialectInfo kDialect{"text", "plain text", kMinCommandGap,
                                     kMinCommandGap + std::chrono::milliseconds(15), &openText, &respondText};

std::optional<std::string> TextDialect::query(Channel& channel, const char* command, int replyLength)
{
    ReplyFramer framer(replyLength);
    return channel.exchange(command, framer, kReplyTiming);
}

std::string TextDialect::identify(Probe& probe)
{
    ReplyFramer framer(0);
    const auto reply = probe.ask(kQueryIdentity, framer, kReplyTiming);
    return reply ? cleanIdentity(*reply) : std::string();
}

bool TextDialect::setVoltage(Channel& channel, int centivolts)
{
    return channel.send(setVoltageCommand(centivolts));
}

bool TextDialect::setCurrent(Channel& channel, int milliamps)
{
    return channel.send(setCurrentCommand(milliamps));
}

bool TextDialect::setOutput(Channel& channel, bool on)
{
    return channel.send(outputCommand(on));
}

std::optional<int> TextDialect::queryVoltage(Channel& channel)
{
    const auto reply = query(channel, kQueryVoltage, kReadingLength);
    return reply ? parseVoltage(*reply) : std::nullopt;
}

std::optional<int> TextDialect::queryCurrent(Channel& channel)
{
    const auto reply = query(channel, kQueryCurrent, kReadingLength);
    return reply ? parseCurrent(*reply) : std::nullopt;
}

std::optional<SupplyState> TextDialect::queryState(Channel& channel)
{
    const auto reply = query(channel, kQueryStatus, kStatusLength);
    const auto status = reply ? parseStatus(*reply) : std::nullopt;
    if (!status)
        return std::nullopt;
    SupplyState state;
    state.outputOn = status->outputOn;
    state.constantVoltage = status->outputOn && status->constantVoltage;
    state.constantCurrent = status->outputOn && !status->constantVoltage;
    return state;
}

} // namespace pslink::text
