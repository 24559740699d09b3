#pragma once

#include "device/link/Dialect.h"
#include "device/link/SerialTransport.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace pslink {

/// One supply on an open transport, spoken to synchronously in its dialect: each call sends
/// and, for queries, waits for the reply within the dialect's timing rules. Used by the link
/// thread (and by the benchmark to measure what a synchronous call costs).
class SerialSession : private Channel
{
public:
    using State = SupplyState;

    /// `dialect` nullptr: found by identify().
    SerialSession(SerialTransport& transport, const DialectInfo* dialect);
    ~SerialSession() override;

    /// nullptr until identify() has found one.
    const DialectInfo* dialect() const { return m_info; }
    /// Asks for the identity; without a dialect, tries the registered ones in turn and keeps the
    /// first that answers. Empty when the supply did not answer.
    std::string identify();

    bool setVoltage(int centivolts);
    bool setCurrent(int milliamps);
    bool setOutput(bool on);

    std::optional<int> queryVoltage();
    std::optional<int> queryCurrent();
    std::optional<State> queryState();

    /// When the supply last gave a well-formed reply (construction time before that).
    std::chrono::steady_clock::time_point lastAnswer() const { return m_lastAnswer; }

private:
    class DetectionProbe;

    // Channel
    bool send(const std::string& bytes) override;
    bool append(const std::string& bytes) override;
    std::optional<std::string> receive(Framer& framer, ReplyTiming timing) override;
    void settle(std::chrono::milliseconds quiet) override;
    bool stopping() const override { return m_transport.stopping(); }

    void keepGap();
    bool stamped(bool written);
    template <typename T>
    T answeredIf(T value);

    SerialTransport& m_transport;
    const DialectInfo* m_info;
    std::unique_ptr<Dialect> m_dialect;
    // The spacing of the dialect being spoken or tried.
    std::chrono::milliseconds m_gap;
    std::chrono::steady_clock::time_point m_lastCommand{};
    std::chrono::steady_clock::time_point m_lastAnswer;
};

} // namespace pslink
