#include "UnitChannels.h"

#include "device/link/scpi/FamilyResponder.h"
#include "device/link/text/TextResponder.h"

#include <algorithm>
#include <cmath>

namespace sim {

UnitChannels::UnitChannels(const Options& o, pslink::SimulatedSupply& first) : m_options(o), m_first(first)
{
    for (size_t i = 1; i < o.ratings.size(); ++i) {
        auto channel = std::make_unique<pslink::SimulatedSupply>();
        if (o.loadOhms > 0.0)
            channel->setLoadOhms(o.loadOhms);
        const pslink::ChannelRating& rating = o.ratings[i];
        const auto most = [](double value, int scale, int otherwise) {
            return value > 0 ? static_cast<int>(std::min<double>(std::llround(value * scale), numtext::kMaxCount))
                             : otherwise;
        };
        channel->setMaximum(most(rating.volts, 100, numtext::kMaxCount), most(rating.amps, 1000, numtext::kMaxCount));
        m_more.push_back(std::move(channel));
    }
}

std::unique_ptr<pslink::SupplyResponder> UnitChannels::respond(const pslink::ResponderQuirks& quirks)
{
    if (!m_options.family)
        return m_options.dialect->respond(m_first, quirks);
    std::vector<pslink::SimulatedSupply*> more;
    for (const auto& channel : m_more)
        more.push_back(channel.get());
    if (m_options.family->wire == pslink::Wire::PlainText)
        return std::make_unique<pslink::text::TextResponder>(m_first, quirks, false, more);
    more.insert(more.begin(), &m_first);
    return std::make_unique<pslink::scpi::FamilyResponder>(*m_options.family, m_options.model, more,
                                                           m_options.ratings, quirks);
}

void UnitChannels::forEach(const std::function<void(pslink::SimulatedSupply&)>& change)
{
    change(m_first);
    for (const auto& channel : m_more)
        change(*channel);
}

} // namespace sim
