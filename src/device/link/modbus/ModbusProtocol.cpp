#include "device/link/modbus/ModbusProtocol.h"

#include <algorithm>

namespace pslink::modbus {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// Above this rate the serial line rules fix the end-of-frame silence instead of scaling it.
constexpr int kFixedSilenceBaud = 19200;
constexpr microseconds kFixedSilence{1750};
// An RTU character: start, eight data, parity or a second stop, stop.
constexpr long long kBitsPerChar = 11;
// The request's own wire time and a bridge's latency come before the firmware's.
constexpr milliseconds kBridgeLatency{50};
constexpr size_t kRequestLength = 8;
constexpr size_t kExceptionLength = 5;

unsigned byteAt(std::string_view s, size_t i)
{
    return static_cast<unsigned char>(s[i]);
}

unsigned wordAt(std::string_view s, size_t i)
{
    return byteAt(s, i) << 8 | byteAt(s, i + 1);
}

void appendWord(std::string& out, unsigned value)
{
    out.push_back(static_cast<char>(value >> 8 & 0xFF));
    out.push_back(static_cast<char>(value & 0xFF));
}

std::string request(int address, std::uint8_t function, int first, int second)
{
    std::string body;
    body.push_back(static_cast<char>(address & 0xFF));
    body.push_back(static_cast<char>(function));
    appendWord(body, static_cast<unsigned>(first));
    appendWord(body, static_cast<unsigned>(second));
    return withCrc(std::move(body));
}

Reply failed(Fault fault)
{
    Reply r;
    r.fault = fault;
    return r;
}

// The frame's bytes past address and function, once the frame is known to be ours and whole.
Reply parseData(std::string_view frame, std::string_view req)
{
    Reply r;
    if (byteAt(req, 1) == kReadHolding) {
        const unsigned count = wordAt(req, 4);
        if (byteAt(frame, 2) != 2 * count || frame.size() != 5 + 2 * count)
            return failed(Fault::WrongLength);
        for (unsigned i = 0; i < count; ++i)
            r.registers.push_back(static_cast<std::uint16_t>(wordAt(frame, 3 + 2 * i)));
        return r;
    }
    if (frame.size() != kRequestLength)
        return failed(Fault::WrongLength);
    if (frame.substr(2, 4) != req.substr(2, 4))
        return failed(Fault::WrongEcho);
    r.registers = {static_cast<std::uint16_t>(wordAt(frame, 2)),
                   static_cast<std::uint16_t>(wordAt(frame, 4))};
    return r;
}

const char* exceptionName(int code)
{
    switch (code) {
    case kIllegalFunction:
        return "illegal function";
    case kIllegalAddress:
        return "illegal data address";
    case kIllegalValue:
        return "illegal data value";
    case 4:
        return "device failure";
    case 6:
        return "device busy";
    default:
        return "unknown code";
    }
}

} // namespace

std::uint16_t crc16(std::string_view bytes)
{
    unsigned crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
}

std::string withCrc(std::string body)
{
    const unsigned crc = crc16(body);
    body.push_back(static_cast<char>(crc & 0xFF));
    body.push_back(static_cast<char>(crc >> 8));
    return body;
}

std::string readRequest(int address, int start, int count)
{
    return request(address, kReadHolding, start, count);
}

std::string writeRequest(int address, int reg, std::uint16_t value)
{
    return request(address, kWriteRegister, reg, value);
}

size_t replyLength(std::string_view req)
{
    if (req.size() != kRequestLength)
        return 0;
    if (byteAt(req, 1) == kReadHolding)
        return 5 + 2 * static_cast<size_t>(wordAt(req, 4));
    return byteAt(req, 1) == kWriteRegister ? kRequestLength : 0;
}

Reply parseReply(const std::optional<std::string>& frame, std::string_view req)
{
    if (!frame || frame->empty())
        return failed(Fault::Silence);
    const std::string_view f = *frame;
    if (f.size() < kExceptionLength || replyLength(req) == 0)
        return failed(Fault::CutShort);
    if (crc16(f) != 0) // a whole frame with its CRC runs the CRC to zero
        return failed(f.size() < replyLength(req) ? Fault::CutShort : Fault::BadCrc);
    if (byteAt(f, 0) != byteAt(req, 0)) {
        Reply r = failed(Fault::OtherAddress);
        r.fromAddress = static_cast<int>(byteAt(f, 0));
        return r;
    }
    if (byteAt(f, 1) == (byteAt(req, 1) | 0x80)) {
        Reply r = failed(f.size() == kExceptionLength ? Fault::Exception : Fault::WrongLength);
        r.exceptionCode = static_cast<int>(byteAt(f, 2));
        return r;
    }
    if (byteAt(f, 1) != byteAt(req, 1))
        return failed(Fault::WrongFunction);
    return parseData(f, req);
}

std::string describe(const Reply& reply)
{
    if (!reply.fault)
        return "a whole reply";
    switch (*reply.fault) {
    case Fault::Silence:
        return "no reply";
    case Fault::CutShort:
        return "a reply cut short";
    case Fault::BadCrc:
        return "a reply with a bad CRC";
    case Fault::OtherAddress:
        return "a reply from address " + std::to_string(reply.fromAddress);
    case Fault::Exception:
        return "exception " + std::to_string(reply.exceptionCode) + " (" +
               exceptionName(reply.exceptionCode) + ")";
    case Fault::WrongFunction:
        return "a reply to another function";
    case Fault::WrongLength:
        return "a reply of the wrong length";
    case Fault::WrongEcho:
        return "a write echoed with another value";
    }
    return "no reply";
}

std::chrono::microseconds frameSilence(int baud)
{
    if (baud <= 0 || baud > kFixedSilenceBaud)
        return kFixedSilence;
    // 3.5 characters, rounded up.
    return microseconds((7 * kBitsPerChar * 1'000'000LL + 2LL * baud - 1) / (2LL * baud));
}

ReplyTiming replyTiming(int baud)
{
    const auto ceilMs = [](microseconds us) { return std::chrono::ceil<milliseconds>(us); };
    const microseconds requestWire(
        baud > 0 ? static_cast<long long>(kRequestLength) * kBitsPerChar * 1'000'000LL / baud : 0LL);
    return {kFirmwareLatency + kBridgeLatency + ceilMs(requestWire),
            std::max(ceilMs(frameSilence(baud)), kBridgeSilence)};
}

FrameReader::FrameReader(size_t expectedLength) : m_expected(expectedLength) {}

void FrameReader::feed(const std::string& bytes)
{
    for (const char c : bytes) {
        if (complete())
            return; // what follows a whole reply is not part of it
        m_frame.push_back(c);
    }
}

bool FrameReader::complete() const
{
    if (m_expected > 0 && m_frame.size() >= m_expected)
        return true;
    // An exception reply is shorter than any other: whole at five bytes when they check out.
    return m_frame.size() == kExceptionLength && (byteAt(m_frame, 1) & 0x80) != 0 && crc16(m_frame) == 0;
}

std::optional<std::string> FrameReader::take()
{
    if (m_frame.empty())
        return std::nullopt;
    return m_frame;
}

} // namespace pslink::modbus
