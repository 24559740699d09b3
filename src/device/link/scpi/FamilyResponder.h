#pragma once

#include "device/link/Families.h"
#include "device/link/SupplyResponder.h"

#include <deque>
#include <utility>
#include <optional>
#include <string>
#include <vector>

namespace pslink {
class SimulatedSupply;
}

namespace pslink::scpi {

/// A unit of a SCPI family for tarnwell-sim, its commands read from the family's row: several
/// channels, each a simulated supply; the selected channel of units that select one, a master
/// switch, an output switch shared by all, out-of-range values refused into the error queue (or
/// answered as a text line by a unit without one), and a beep for a second line end.
class FamilyResponder : public SupplyResponder
{
public:
    /// `channels` are the unit's channels, the first first, rated as `ratings`.
    FamilyResponder(const Family& family, std::string model, std::vector<SimulatedSupply*> channels,
                    std::vector<ChannelRating> ratings, Quirks quirks);

    std::vector<std::string> feed(const std::string& bytes) override;
    void discardPartial() override {} // a line waits for its end however long it takes
    bool hasPartial() const override { return m_lines.hasPartial(); }
    std::string execute(const std::string& command) override;
    bool changesSupply(const std::string& command) const override;
    bool leavesBusy(const std::string& command) const override;

    /// What the command log shows for a line the unit beeps at.
    static constexpr const char* kBeep = "-- beep: an extra line end";

private:
    enum class Verb {
        Identity, Opc, Error, Select, SetVoltage, SetCurrent, SetVoltageQuery, SetCurrentQuery,
        VoltageReading, CurrentReading, OutputOn, OutputOff, MasterOn, OutputQuery, ModeQuery,
    };
    struct Heard
    {
        Verb verb;
        int channel;
        std::string value;
    };
    std::optional<Heard> recognise(const std::string& command) const;
    std::string answer(const Heard& heard);
    std::string set(const Heard& heard);
    void switchOutput(int channel, bool on);
    std::string modeReply(int channel);
    std::string refuse(int code, const char* text);

    const Family& m_family;
    std::string m_model;
    std::vector<SimulatedSupply*> m_channels;
    std::vector<ChannelRating> m_ratings;
    Quirks m_quirks;
    LineBuffer m_lines;
    int m_selected = 1;
    bool m_master = false;
    std::vector<bool> m_armed;     // each channel's own switch, before the master switch
    std::vector<unsigned> m_told;  // trips a reading-clears status has told already
    std::deque<std::pair<int, std::string>> m_errors; // the error queue: code and text
};

} // namespace pslink::scpi
