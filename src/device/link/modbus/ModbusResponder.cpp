#include "device/link/modbus/ModbusResponder.h"

#include "device/link/SimulatedSupply.h"

#include <algorithm>
#include <cmath>

namespace pslink::modbus {

namespace {

// Longer than any RTU frame: bytes that never make one are dropped instead of piling up.
constexpr size_t kMaxFrame = 256;
constexpr size_t kShortestFrame = 4;
constexpr size_t kFixedRequest = 8;

unsigned byteAt(const std::string& s, size_t i)
{
    return static_cast<unsigned char>(s[i]);
}

int wordAt(const std::string& s, size_t i)
{
    return static_cast<int>(byteAt(s, i) << 8 | byteAt(s, i + 1));
}

Model unitModel(const ModbusUnit& unit)
{
    const ModelTable builtIn;
    const Model* known = builtIn.find(unit.modelId);
    const Layout layout = unit.layout.value_or(known ? known->layout : Layout::C);
    if (known && known->layout == layout)
        return *known;
    if (layout == Layout::C) {
        if (const auto described = selfDescribedModel(unit.modelId, unit.decimals))
            return *described;
    }
    // A model the link does not know: it refuses it, but the unit answers all the same.
    return Model{unit.modelId, layout, 2, 3, 99.99, 9.999};
}

int highestRegister(const LayoutMap& m)
{
    return std::max({m.modelId, m.firmware, m.decimals, m.voltageSet, m.currentSet, m.voltageOut,
                     m.currentOut, m.protection, m.mode, m.output});
}

long long registerMaximum(double maximum, int decimals)
{
    return std::llround(maximum * std::pow(10.0, decimals));
}

std::string exceptionReply(const std::string& frame, int code)
{
    std::string body = frame.substr(0, 2);
    body[1] = static_cast<char>(byteAt(frame, 1) | 0x80);
    body.push_back(static_cast<char>(code));
    return withCrc(std::move(body));
}

} // namespace

ModbusResponder::ModbusResponder(SimulatedSupply& supply, ModbusUnit unit)
    : m_supply(supply), m_unit(unit), m_model(unitModel(unit))
{
}

bool ModbusResponder::frameComplete() const
{
    if (m_buffer.size() < 2)
        return false;
    const unsigned function = byteAt(m_buffer, 1);
    if (function >= 1 && function <= 6)
        return m_buffer.size() == kFixedRequest;
    if (function == 0x0F || function == 0x10) // multiple writes carry their byte count
        return m_buffer.size() >= 7 && m_buffer.size() == 9 + byteAt(m_buffer, 6);
    // A function of unknown shape ends where its CRC checks out; else silence ends it.
    return m_buffer.size() >= kShortestFrame && crc16(m_buffer) == 0;
}

// Byte by byte: how the wire splits the bytes makes no difference to the frames found.
std::vector<std::string> ModbusResponder::feed(const std::string& bytes)
{
    std::vector<std::string> frames;
    for (const char c : bytes) {
        m_buffer += c;
        if (frameComplete()) {
            frames.push_back(std::move(m_buffer));
            m_buffer.clear();
        } else if (m_buffer.size() > kMaxFrame) {
            m_buffer.clear();
        }
    }
    return frames;
}

std::optional<std::uint16_t> ModbusResponder::registerValue(int reg) const
{
    const LayoutMap& m = layoutMap(m_model.layout);
    const auto value = [](long long v) {
        return std::optional<std::uint16_t>(static_cast<std::uint16_t>(v));
    };
    if (reg == m.modelId)
        return value(m_unit.modelId);
    if (reg == m.firmware)
        return value(m_unit.firmware);
    if (reg == m.decimals)
        return value(m_unit.decimals);
    if (reg == m.voltageSet)
        return voltsRegister(m_supply.setCentivolts(), m_model);
    if (reg == m.currentSet)
        return ampsRegister(m_supply.setMilliamps(), m_model);
    if (reg == m.voltageOut)
        return voltsRegister(m_supply.measuredCentivolts(), m_model);
    if (reg == m.currentOut)
        return ampsRegister(m_supply.measuredMilliamps(), m_model);
    if (reg == m.protection)
        return value(m.protectionMask ? protectionMask(protection()) : protectionCode(protection()));
    if (reg == m.mode)
        return value(m_supply.constantCurrent() ? 1 : 0);
    if (reg == m.output)
        return value(m_supply.outputOn() ? 1 : 0);
    if (reg > highestRegister(m) || m_unit.gapsRefused)
        return std::nullopt;
    return value(0); // a register the program has no use for
}

int ModbusResponder::writeRegister(int reg, std::uint16_t value)
{
    const LayoutMap& m = layoutMap(m_model.layout);
    if (reg == m.voltageSet) {
        if (value > registerMaximum(m_model.voltsMax, m_model.voltDecimals))
            return kIllegalValue;
        m_supply.setVoltage(centivoltsOf(value, m_model));
    } else if (reg == m.currentSet) {
        if (value > registerMaximum(m_model.ampsMax, m_model.ampDecimals))
            return kIllegalValue;
        m_supply.setCurrent(milliampsOf(value, m_model));
    } else if (reg == m.output) {
        if (value > 1)
            return kIllegalValue;
        m_supply.setOutput(value == 1); // switching on again is also how a trip is reset
    } else {
        return kIllegalAddress; // read-only or no register at all
    }
    return 0;
}

std::string ModbusResponder::readReply(const std::string& frame) const
{
    const int start = wordAt(frame, 2);
    const int count = wordAt(frame, 4);
    if (count < 1 || count > kMaxReadCount)
        return exceptionReply(frame, kIllegalValue);
    std::string reply = frame.substr(0, 2);
    reply.push_back(static_cast<char>(2 * count));
    for (int reg = start; reg < start + count; ++reg) {
        const auto value = registerValue(reg);
        if (!value)
            return exceptionReply(frame, kIllegalAddress);
        reply.push_back(static_cast<char>(*value >> 8));
        reply.push_back(static_cast<char>(*value & 0xFF));
    }
    return withCrc(std::move(reply));
}

std::string ModbusResponder::writeReply(const std::string& frame)
{
    const int code = writeRegister(wordAt(frame, 2), static_cast<std::uint16_t>(wordAt(frame, 4)));
    return code != 0 ? exceptionReply(frame, code) : frame; // the request is its own echo
}

std::string ModbusResponder::execute(const std::string& command)
{
    if (!m_supply.answering())
        return {}; // powered off / cable pulled: nothing is carried out, nothing comes back
    if (command.size() < kShortestFrame || crc16(command) != 0)
        return {};
    const unsigned address = byteAt(command, 0);
    const unsigned function = byteAt(command, 1);
    if (address == 0 && function == kWriteRegister && command.size() == kFixedRequest) {
        writeReply(command); // a broadcast is carried out by every unit and answered by none
        return {};
    }
    if (address != static_cast<unsigned>(m_unit.address))
        return {};
    if (function == kReadHolding && command.size() == kFixedRequest)
        return readReply(command);
    if (function == kWriteRegister && command.size() == kFixedRequest)
        return writeReply(command);
    return exceptionReply(command, kIllegalFunction);
}

bool ModbusResponder::changesSupply(const std::string& command) const
{
    if (command.size() != kFixedRequest || crc16(command) != 0 || byteAt(command, 1) != kWriteRegister)
        return false;
    const unsigned address = byteAt(command, 0);
    const int reg = wordAt(command, 2);
    const LayoutMap& m = layoutMap(m_model.layout);
    return (address == 0 || address == static_cast<unsigned>(m_unit.address)) &&
           (reg == m.voltageSet || reg == m.currentSet || reg == m.output);
}

void ModbusResponder::trip(Protection protection)
{
    m_supply.trip(protection.bits);
}

Protection ModbusResponder::protection() const
{
    return {static_cast<std::uint8_t>(m_supply.protection())};
}

} // namespace pslink::modbus
