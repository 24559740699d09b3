#pragma once

// Modbus-RTU framing: an address byte, a function, its data and a CRC-16, with frames set apart
// by silence on the line. Pure code: bytes in, frames out; the timing is computed, not kept.

#include "device/link/Dialect.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pslink::modbus {

constexpr int kDefaultAddress = 1;
constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kWriteRegister = 0x06;
/// The most registers one read may ask for: what fits a frame of 256 bytes.
constexpr int kMaxReadCount = 125;

/// Exception codes a unit sends back instead of a reply.
constexpr int kIllegalFunction = 1;
constexpr int kIllegalAddress = 2;
constexpr int kIllegalValue = 3;

/// Stock firmware of the modules may take this long before it answers.
constexpr std::chrono::milliseconds kFirmwareLatency{500};
/// A USB bridge passes bytes on in bursts up to 16 ms apart: a pause shorter than this is no end
/// of frame, whatever the baud rate says.
constexpr std::chrono::milliseconds kBridgeSilence{20};

/// CRC-16 as Modbus defines it (polynomial 0xA001 reflected, start 0xFFFF).
std::uint16_t crc16(std::string_view bytes);
/// `body` with its CRC appended, low byte first.
std::string withCrc(std::string body);

/// Function 03: read `count` holding registers from `start`.
std::string readRequest(int address, int start, int count);
/// Function 06: write `value` to register `reg`.
std::string writeRequest(int address, int reg, std::uint16_t value);
/// The length of a whole normal reply to `request` (03 or 06); 0 for anything else.
size_t replyLength(std::string_view request);

/// Why a frame is no reply to the request.
enum class Fault {
    Silence,       ///< nothing came
    CutShort,      ///< fewer bytes than a whole reply
    BadCrc,        ///< the bytes are damaged
    OtherAddress,  ///< a reply, but from another unit on the bus
    Exception,     ///< the unit refused the request
    WrongFunction, ///< a reply to some other function
    WrongLength,   ///< a byte count or length that does not fit the request
    WrongEcho,     ///< a write echoed with another register or value
};

/// A parsed reply: the registers read (03) or the register and value written (06), or the
/// reason it is no reply.
struct Reply
{
    std::optional<Fault> fault;
    int exceptionCode = 0; ///< with Fault::Exception
    int fromAddress = 0;   ///< with Fault::OtherAddress
    std::vector<std::uint16_t> registers;

    bool ok() const { return !fault; }
};

/// Checks `frame` against `request` and takes out what it carries; `frame` nullopt is silence.
Reply parseReply(const std::optional<std::string>& frame, std::string_view request);
/// The reason of a failed reply as the link reports it, e.g. "exception 2 (illegal data address)".
std::string describe(const Reply& reply);

/// 3.5 characters of 11 bits at `baud`: the silence that ends a frame on the wire.
std::chrono::microseconds frameSilence(int baud);
/// The timing of a reply at `baud`: the firmware's latency to the first byte, and the end of
/// frame no shorter than a USB bridge's bursts.
ReplyTiming replyTiming(int baud);

/// One reply frame as the session reads it: complete at the length the request predicts, or at
/// a whole exception reply; otherwise the silence ends it and the parser says what is wrong.
/// Bytes past the predicted length are not part of the reply.
class FrameReader : public Framer
{
public:
    explicit FrameReader(size_t expectedLength);
    void feed(const std::string& bytes) override;
    bool complete() const override;
    /// What came, whole or not: nullopt only when nothing came.
    std::optional<std::string> take() override;
    void reset() override { m_frame.clear(); }

private:
    size_t m_expected;
    std::string m_frame;
};

} // namespace pslink::modbus
