// tarnwell-sim's options for a brand unit of a family: which family and model it is, and what
// follows from the family's row when the other options leave it open.

#include "SimOptions.h"

#include "device/link/UnitModels.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace sim {

namespace {

int counts(double value, int scale)
{
    return static_cast<int>(std::min<double>(std::llround(value * scale), numtext::kMaxCount));
}

} // namespace

std::string familyUsage()
{
    return "                    [--family " + pslink::FamilyNames() + " [--model M]]\n";
}

Taken parseFamilyArg(const std::string& a, const char* value, Options& o)
{
    if (a != "--family")
        return Taken::No;
    o.family = value ? pslink::FindFamily(value) : nullptr;
    return o.family ? Taken::Yes : Taken::Bad;
}

bool finishFamily(Options& o)
{
    if (!o.family)
        return o.model.empty() || std::isdigit(static_cast<unsigned char>(o.model.front()));
    const pslink::Family& family = *o.family;
    o.dialect = pslink::FindDialect(family.wire == pslink::Wire::Scpi ? "scpi" : "text");
    if (o.model.empty())
        o.model = pslink::DefaultModel(family);
    if (o.quirks.identity.empty())
        o.quirks.identity = pslink::FamilyIdentity(family, o.model);
    // The unit is what the link's own table makes of its identity.
    const pslink::UnitMatch unit = pslink::UnitTable().match(o.quirks.identity, family.wire);
    if (unit.family != &family)
        return false;
    o.ratings = unit.channels;
    const pslink::ChannelRating& first = o.ratings.front();
    if (first.volts > 0 && o.maxCentivolts == numtext::kMaxCount)
        o.maxCentivolts = counts(first.volts, 100);
    if (first.amps > 0 && o.maxMilliamps == numtext::kMaxCount)
        o.maxMilliamps = counts(first.amps, 1000);
    if (o.minGapMs < 0)
        o.minGapMs = static_cast<int>(family.gap.count());
    if (o.slowMs == 0)
        o.slowMs = static_cast<int>(family.modeGap.count());
    return true;
}

} // namespace sim
