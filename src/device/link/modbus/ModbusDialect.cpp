#include "device/link/modbus/ModbusDialect.h"

#include "device/link/PortSetting.h"
#include "device/link/modbus/ModbusResponder.h"

#include <algorithm>

namespace pslink::modbus {

namespace {

using std::chrono::milliseconds;

std::unique_ptr<Dialect> openModbus(const PortSetting& setting)
{
    return std::make_unique<ModbusDialect>(ModelTable::installed(), setting.address, setting.baud, setting.channel);
}

std::unique_ptr<SupplyResponder> respondModbus(SimulatedSupply& supply, const ResponderQuirks& quirks)
{
    ModbusUnit unit;
    unit.modelId = quirks.modelId;
    unit.address = quirks.address;
    unit.firmware = quirks.firmware;
    unit.decimals = static_cast<std::uint16_t>(quirks.decimals);
    if (quirks.layout >= 'A' && quirks.layout <= 'C')
        unit.layout = static_cast<Layout>(quirks.layout - 'A');
    return std::make_unique<ModbusResponder>(supply, unit);
}

} // namespace

// Every request waits for its reply, so the spacing only keeps a bridge's silence between
// frames; slow firmware is slow to answer, not to listen, and the reply timing covers it.
// Modules leave the factory at 115200 baud, and many are set to 9600 on their bus.
constinit const DialectInfo kDialect{"modbus",          "Modbus-RTU module", milliseconds(0), kBridgeSilence,
                                     milliseconds(600), &openModbus,         &respondModbus, nullptr,
                                     115200};

ModbusDialect::ModbusDialect(ModelTable models, int address, int baud, int channel)
    : m_models(std::move(models)), m_address(address), m_timing(replyTiming(baud)), m_channel(std::max(channel, 1))
{
}

Reply ModbusDialect::judged(const std::optional<std::string>& frame, const std::string& request)
{
    Reply r = parseReply(frame, request);
    m_reason = r.ok() ? std::string() : describe(r);
    return r;
}

Reply ModbusDialect::read(Channel& channel, int start, int count)
{
    const std::string request = readRequest(m_address, start, count);
    FrameReader framer(replyLength(request));
    return judged(channel.exchange(request, framer, m_timing), request);
}

std::optional<int> ModbusDialect::readOne(Channel& channel, int LayoutMap::*field)
{
    if (!m_found)
        return std::nullopt;
    const Reply r = read(channel, layoutMap(m_found->model.layout).*field, 1);
    return r.ok() ? std::optional<int>(r.registers.front()) : std::nullopt;
}

bool ModbusDialect::write(Channel& channel, int reg, std::uint16_t value)
{
    if (!m_found)
        return false;
    const std::string request = writeRequest(m_address, reg, value);
    if (!channel.send(request, Pace::Busy))
        return false;
    // The echo is taken off the line before the next request; whether the change held, the
    // read-back tells.
    FrameReader framer(replyLength(request));
    judged(channel.receive(framer, m_timing), request);
    return true;
}

std::string ModbusDialect::identify(Probe& probe)
{
    const ReadRegisters read = [&](int start, int count) {
        const std::string request = readRequest(m_address, start, count);
        FrameReader framer(replyLength(request));
        return parseReply(probe.ask(request, framer, m_timing), request);
    };
    const Detection d = detect(read, m_models);
    m_found = d.found;
    m_readSeparately = false;
    m_reason = d.reason;
    // Silence is no refusal: another dialect, or no unit, may be on the line.
    Reply silence;
    silence.fault = Fault::Silence;
    m_refused = !m_found && d.reason != describe(silence);
    if (m_found && m_channel > 1) {
        m_reason = "a Modbus module has channel 1 only, not channel " + std::to_string(m_channel);
        m_refused = true;
        m_found.reset();
    }
    return m_found ? identityText(*m_found) : std::string();
}

std::string ModbusDialect::refusal() const
{
    return m_refused ? m_reason : std::string();
}

std::optional<int> ModbusDialect::queryMaximumVoltage(Channel& /*channel*/)
{
    return m_found ? std::optional<int>(maxCentivolts()) : std::nullopt;
}

std::optional<int> ModbusDialect::queryMaximumCurrent(Channel& /*channel*/)
{
    return m_found ? std::optional<int>(maxMilliamps()) : std::nullopt;
}

std::optional<Sample> ModbusDialect::readAll(Channel& channel)
{
    const auto p = poll(channel);
    if (!p)
        return std::nullopt;
    return Sample{p->centivolts, p->milliamps, p->state(), p->setCentivolts, p->setMilliamps};
}

int ModbusDialect::maxCentivolts() const
{
    return m_found ? modbus::maxCentivolts(m_found->model) : 0;
}

int ModbusDialect::maxMilliamps() const
{
    return m_found ? modbus::maxMilliamps(m_found->model) : 0;
}

bool ModbusDialect::setVoltage(Channel& channel, int centivolts)
{
    if (!m_found)
        return false;
    const int held = std::clamp(centivolts, 0, maxCentivolts());
    return write(channel, layoutMap(m_found->model.layout).voltageSet, voltsRegister(held, m_found->model));
}

bool ModbusDialect::setCurrent(Channel& channel, int milliamps)
{
    if (!m_found)
        return false;
    const int held = std::clamp(milliamps, 0, maxMilliamps());
    return write(channel, layoutMap(m_found->model.layout).currentSet, ampsRegister(held, m_found->model));
}

bool ModbusDialect::setOutput(Channel& channel, bool on)
{
    return m_found && write(channel, layoutMap(m_found->model.layout).output, on ? 1 : 0);
}

std::optional<Poll> ModbusDialect::poll(Channel& channel)
{
    if (!m_found)
        return std::nullopt;
    const ReadRegisters readFn = [&](int start, int count) { return read(channel, start, count); };
    const SpanRead r = readSpans(readFn, pollSpans(m_found->model.layout), m_readSeparately);
    return r.registers ? decodePoll(m_found->model, *r.registers) : std::nullopt;
}

std::optional<int> ModbusDialect::queryVoltage(Channel& channel)
{
    const auto raw = readOne(channel, &LayoutMap::voltageOut);
    return raw ? std::optional<int>(centivoltsOf(*raw, m_found->model)) : std::nullopt;
}

std::optional<int> ModbusDialect::queryCurrent(Channel& channel)
{
    const auto raw = readOne(channel, &LayoutMap::currentOut);
    return raw ? std::optional<int>(milliampsOf(*raw, m_found->model)) : std::nullopt;
}

std::optional<SupplyState> ModbusDialect::queryState(Channel& channel)
{
    const auto p = poll(channel);
    return p ? std::optional<SupplyState>(p->state()) : std::nullopt;
}

std::optional<int> ModbusDialect::querySetVoltage(Channel& channel)
{
    const auto raw = readOne(channel, &LayoutMap::voltageSet);
    return raw ? std::optional<int>(centivoltsOf(*raw, m_found->model)) : std::nullopt;
}

std::optional<int> ModbusDialect::querySetCurrent(Channel& channel)
{
    const auto raw = readOne(channel, &LayoutMap::currentSet);
    return raw ? std::optional<int>(milliampsOf(*raw, m_found->model)) : std::nullopt;
}

std::optional<bool> ModbusDialect::queryOutput(Channel& channel)
{
    const auto raw = readOne(channel, &LayoutMap::output);
    return raw ? std::optional<bool>(*raw != 0) : std::nullopt;
}

} // namespace pslink::modbus
