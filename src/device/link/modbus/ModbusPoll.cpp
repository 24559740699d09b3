#include "device/link/modbus/ModbusPoll.h"

#include "device/NumberText.h"

#include "device/link/Decimal.h"
#include "device/link/scpi/ScpiProtocol.h"

#include <algorithm>

namespace pslink::modbus {

namespace {

constexpr std::uint8_t kKnownCodes = 4;
constexpr int kKnownMask = 0x1F;

void store(Registers& registers, int start, const std::vector<std::uint16_t>& values)
{
    for (size_t i = 0; i < values.size(); ++i)
        registers[start + static_cast<int>(i)] = values[i];
}

std::optional<int> at(const Registers& registers, int reg)
{
    const auto found = registers.find(reg);
    return found == registers.end() ? std::nullopt : std::optional<int>(found->second);
}

const Model* knownOf(const ModelTable& models, int id, Layout layout)
{
    const Model* m = models.find(id);
    return m && m->layout == layout ? m : nullptr;
}

// Layout A or B: the model id and the firmware register are read in one request.
std::optional<Found> tryCoded(const ReadRegisters& read, const ModelTable& models, Layout layout,
                              Reply& reply)
{
    const LayoutMap& map = layoutMap(layout);
    const int first = std::min(map.modelId, map.firmware);
    const int count = std::max(map.modelId, map.firmware) - first + 1;
    reply = read(first, count);
    if (!reply.ok() || reply.registers.size() != static_cast<size_t>(count))
        return std::nullopt;
    const Model* m = knownOf(models, reply.registers[static_cast<size_t>(map.modelId - first)], layout);
    if (!m)
        return std::nullopt;
    return Found{*m, reply.registers[static_cast<size_t>(map.firmware - first)]};
}

// Layout C describes its own scales; a line for its id in the table is taken as stated.
std::optional<Found> trySelfDescribed(const ReadRegisters& read, const ModelTable& models, Reply& reply)
{
    const LayoutMap& map = layoutMap(Layout::C);
    bool separately = false;
    const SpanRead r = readSpans(read, {{map.modelId, 1}, {map.decimals, 1}}, separately);
    reply = r.fault;
    const auto id = r.registers ? at(*r.registers, map.modelId) : std::nullopt;
    const auto decimals = r.registers ? at(*r.registers, map.decimals) : std::nullopt;
    if (!id || !decimals)
        return std::nullopt;
    const auto described = selfDescribedModel(*id, static_cast<std::uint16_t>(*decimals));
    if (!described)
        return std::nullopt;
    const Model* listed = knownOf(models, *id, Layout::C);
    return Found{listed ? *listed : *described, std::nullopt};
}

// The model id in the reply to tryCoded()'s request, when it came.
std::optional<int> idIn(const Reply& reply, Layout layout)
{
    const LayoutMap& map = layoutMap(layout);
    const auto index = static_cast<size_t>(map.modelId - std::min(map.modelId, map.firmware));
    if (!reply.ok() || reply.registers.size() <= index)
        return std::nullopt;
    return reply.registers[index];
}

// Why detection found nothing, naming the id that looks like one: layout A's are above
// anything a B setpoint in the digit buffer's range holds, and B keeps nothing but its id in
// register 11.
std::string unrecognised(const Reply& a, const Reply& b, const Reply& c, const ModelTable& models)
{
    const auto idA = idIn(a, Layout::A);
    const auto idB = idIn(b, Layout::B);
    if (idA && *idA > numtext::kMaxCount)
        return models.refusal(*idA);
    if (idB && *idB != 0)
        return models.refusal(*idB);
    for (const Reply* r : {&a, &b, &c}) {
        if (!r->ok())
            return "no Modbus module recognised at this address: " + describe(*r);
    }
    return "no Modbus module recognised at this address: no model id in registers 0, 3 or 11";
}

} // namespace

Protection protectionFromCode(int code)
{
    if (code <= 0)
        return {};
    if (code > kKnownCodes)
        return Protection::of(Trip::Other);
    return {static_cast<std::uint8_t>(1u << (code - 1))};
}

int protectionCode(Protection protection)
{
    for (int code = 1; code <= kKnownCodes; ++code) {
        if ((protection.bits & (1u << (code - 1))) != 0)
            return code;
    }
    return 0;
}

Protection protectionFromMask(int mask)
{
    Protection p{static_cast<std::uint8_t>(mask & kKnownMask)};
    if ((mask & ~kKnownMask) != 0)
        p.bits |= static_cast<std::uint8_t>(Trip::Other);
    return p;
}

int protectionMask(Protection protection)
{
    return protection.bits & kKnownMask;
}

SpanRead readSpans(const ReadRegisters& read, const std::vector<Span>& spans, bool& separately)
{
    SpanRead out;
    if (spans.empty())
        return out;
    const int first = spans.front().start;
    const int count = spans.back().start + spans.back().count - first;
    if (!separately && count <= kMaxReadCount) {
        Reply r = read(first, count);
        if (r.ok()) {
            out.registers.emplace();
            store(*out.registers, first, r.registers);
            return out;
        }
        out.fault = r;
        if (spans.size() == 1 || r.fault != Fault::Exception || r.exceptionCode != kIllegalAddress)
            return out;
        separately = true; // only the registers named exist: ask for them alone from now on
    }
    Registers registers;
    for (const Span& span : spans) {
        Reply r = read(span.start, span.count);
        if (!r.ok()) {
            out.fault = r;
            return out;
        }
        store(registers, span.start, r.registers);
    }
    out.registers = std::move(registers);
    return out;
}

std::vector<Span> pollSpans(Layout layout)
{
    const LayoutMap& m = layoutMap(layout);
    if (layout == Layout::C)
        return {{m.output, 2}, {m.voltageOut, 2}, {m.voltageSet, 2}};
    // Setpoints and readings lie together, as do protection, mode and output.
    return {{m.voltageSet, 4}, {m.protection, 3}};
}

SupplyState Poll::state() const
{
    SupplyState s;
    s.outputOn = outputOn;
    s.constantCurrent = outputOn && constantCurrent;
    s.constantVoltage = outputOn && !constantCurrent;
    // The bits are the link's own, but for Trip::Other, which it has no lamp for.
    s.protection = protection.bits & kKnownMask;
    return s;
}

std::optional<Poll> decodePoll(const Model& model, const Registers& registers)
{
    const LayoutMap& m = layoutMap(model.layout);
    const auto vset = at(registers, m.voltageSet);
    const auto iset = at(registers, m.currentSet);
    const auto vout = at(registers, m.voltageOut);
    const auto iout = at(registers, m.currentOut);
    const auto protection = at(registers, m.protection);
    const auto output = at(registers, m.output);
    const auto mode = m.mode == kNoRegister ? std::optional<int>(0) : at(registers, m.mode);
    if (!vset || !iset || !vout || !iout || !protection || !output || !mode)
        return std::nullopt;
    Poll p;
    p.setCentivolts = centivoltsOf(*vset, model);
    p.setMilliamps = milliampsOf(*iset, model);
    p.centivolts = centivoltsOf(*vout, model);
    p.milliamps = milliampsOf(*iout, model);
    p.outputOn = *output != 0;
    p.protection = m.protectionMask ? protectionFromMask(*protection) : protectionFromCode(*protection);
    if (m.mode != kNoRegister)
        p.constantCurrent = p.outputOn && *mode == 1;
    else
        p.constantCurrent = p.outputOn && scpi::inferMode(p.centivolts, p.milliamps, p.setCentivolts,
                                                          p.setMilliamps) == scpi::Mode::ConstantCurrent;
    return p;
}

Detection detect(const ReadRegisters& read, const ModelTable& models)
{
    Detection d;
    Reply a;
    if (auto found = tryCoded(read, models, Layout::A, a)) {
        d.found = found;
        return d;
    }
    if (a.fault == Fault::Silence) {
        d.reason = describe(a); // nothing at this address: no use asking further
        return d;
    }
    Reply b;
    if (auto found = tryCoded(read, models, Layout::B, b)) {
        d.found = found;
        return d;
    }
    Reply c;
    if (auto found = trySelfDescribed(read, models, c)) {
        d.found = found;
        return d;
    }
    d.reason = unrecognised(a, b, c, models);
    return d;
}

std::string identityText(const Found& found)
{
    std::string text = "Modbus module " + std::to_string(found.model.id);
    if (found.firmware)
        text += " fw " + formatCounts(*found.firmware, 2);
    return text;
}

} // namespace pslink::modbus
