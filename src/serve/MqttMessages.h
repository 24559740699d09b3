#pragma once

// What the service says on MQTT and what it takes from it: the topics under
// tarnwell/<id>/, the state object of each sample, Home Assistant's discovery configurations, and
// the set commands' payloads taken apart. Pure: values in, texts out.

#include "serve/SupplyService.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace mqttmsg {

/// "tarnwell/<id>"; `id` as ServiceId gives it.
QString BaseTopic(const QString& strId);
QString StateTopic(const QString& strId);
QString AvailabilityTopic(const QString& strId);
QString ErrorTopic(const QString& strId);
/// tarnwell/<id>/set/+
QString SetFilter(const QString& strId);

/// An id for topics made of `identity` (the unit's identity line): lower case letters, digits
/// and single dashes; "supply" when nothing is left.
QString ServiceId(const QString& strIdentity);

/// The state object of a sample: {"t":12,"v":5.00,"i":0.500,"mode":"CV","out":true,
/// "protect":null,"vset":5.00,"iset":1.000} (the setpoints null until they are known).
QByteArray StatePayload(const CServiceState& state);

/// A discovery configuration and where it goes.
struct Discovery
{
    QString strTopic; ///< homeassistant/<component>/<id>/<object>/config
    QByteArray payload;
};
/// The voltage and current sensors, the two setpoints as numbers up to `fMaxVolts`/`fMaxAmps`,
/// the output as a switch, all of one device named after `strModel`.
std::vector<Discovery> DiscoveryMessages(const QString& strId, const QString& strModel, double fMaxVolts,
                                         double fMaxAmps);

/// A set command taken apart.
struct SetCommand
{
    enum Kind { Voltage, Current, Output } kind = Voltage;
    double value = 0.0; ///< volts or amperes; 1 or 0 for the output
};
/// The command `topic` (tarnwell/<id>/set/voltage, .../current, .../output) with `payload` ("12.5";
/// ON, OFF, 1, 0, true, false), or nullopt with `pWhy` saying what is wrong. Ranges are the
/// service's to check.
std::optional<SetCommand> ParseSet(const QString& strId, const QString& strTopic, const QByteArray& payload,
                                   QString* pWhy);

/// What goes to tarnwell/<id>/error when a command is refused.
QByteArray ErrorPayload(const QString& strTopic, const QByteArray& payload, const QString& strWhy);

} // namespace mqttmsg
