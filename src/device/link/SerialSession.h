#pragma once

#include "device/link/SerialTransport.h"

#include <chrono>
#include <optional>
#include <string>

namespace pslink {

enum class Dialect { Auto, Text, Scpi };

/// One supply on an open transport, spoken to synchronously in its dialect: each call sends
/// and, for queries, waits for the reply within the dialect's timing rules. Used by the link
/// thread (and by the benchmark to measure what a synchronous call costs).
class SerialSession
{
public:
    struct State
    {
        bool outputOn = false;
        bool constantVoltage = false;
        bool constantCurrent = false;
    };

    SerialSession(SerialTransport& transport, Dialect dialect);

    /// Dialect::Auto until identify() has found one.
    Dialect dialect() const { return m_dialect; }
    /// Asks for the identity; with Dialect::Auto first in the plain-text dialect, then in SCPI.
    /// Empty when the supply did not answer.
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
    bool sendText(const std::string& command);
    bool sendScpi(const std::string& command);
    std::optional<std::string> textQuery(const std::string& command, int expectedLength);
    std::optional<std::string> scpiQuery(const std::string& command);
    std::optional<std::string> scpiReadLine(std::chrono::milliseconds firstByte);
    std::string textIdentity();
    std::string scpiIdentity(bool probing);
    void keepGap();
    bool stamped(bool written);
    void answered();

    SerialTransport& m_transport;
    Dialect m_dialect;
    std::chrono::steady_clock::time_point m_lastCommand{};
    std::chrono::steady_clock::time_point m_lastAnswer;
    // What the SCPI mode inference needs: the latest readings and the setpoints (-1 = unknown).
    std::optional<bool> m_modeQueryWorks;
    int m_lastCentivolts = 0;
    int m_lastMilliamps = 0;
    int m_setCentivolts = -1;
    int m_setMilliamps = -1;
};

} // namespace pslink
