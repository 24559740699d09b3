#include "serve/MqttMessages.h"

#include "device/NumberText.h"
#include "engine/RunEngine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <cmath>

namespace mqttmsg {

namespace {

// Payloads the service takes are short; anything longer is no value of ours.
constexpr qsizetype kMaxPayload = 64;

QByteArray Compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QString BaseTopic(const QString& strId)
{
    return QStringLiteral("tarnwell/") + strId;
}

QString StateTopic(const QString& strId)
{
    return BaseTopic(strId) + QStringLiteral("/state");
}

QString AvailabilityTopic(const QString& strId)
{
    return BaseTopic(strId) + QStringLiteral("/availability");
}

QString ErrorTopic(const QString& strId)
{
    return BaseTopic(strId) + QStringLiteral("/error");
}

QString SetFilter(const QString& strId)
{
    return BaseTopic(strId) + QStringLiteral("/set/+");
}

QString ServiceId(const QString& strIdentity)
{
    QString id;
    for (const QChar c : strIdentity.toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            id += c;
        else if (!id.isEmpty() && !id.endsWith(QLatin1Char('-')))
            id += QLatin1Char('-');
    }
    while (id.endsWith(QLatin1Char('-')))
        id.chop(1);
    return id.isEmpty() ? QStringLiteral("supply") : id.left(64);
}

QByteArray StatePayload(const CServiceState& state)
{
    // The object tarnwell-cli prints for a sample, with the setpoints after it.
    QByteArray payload = SampleLine(state.nSample, state.fVolts, state.fAmps, state.bCv, state.bCc, state.bOutput, true,
                                    enginetext::ProtectionText(state.nProtection))
                             .toUtf8();
    payload.chop(1); // its closing brace
    if (state.bSetKnown)
        payload += ",\"vset\":" + QByteArray::fromStdString(numtext::Fixed(state.fSetVolts, 2)) + ",\"iset\":"
                   + QByteArray::fromStdString(numtext::Fixed(state.fSetAmps, 3)) + "}";
    else
        payload += ",\"vset\":null,\"iset\":null}";
    return payload;
}

std::vector<Discovery> DiscoveryMessages(const QString& strId, const QString& strModel, double fMaxVolts,
                                         double fMaxAmps)
{
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{QStringLiteral("tarnwell_") + strId}},
                             {QStringLiteral("name"), strModel},
                             {QStringLiteral("manufacturer"), QStringLiteral("Tarnwell")},
                             {QStringLiteral("model"), strModel}};
    const auto entity = [&](const char* component, const char* object, const char* name) {
        QJsonObject config{{QStringLiteral("name"), QLatin1String(name)},
                           {QStringLiteral("unique_id"), strId + QLatin1Char('_') + QLatin1String(object)},
                           {QStringLiteral("object_id"), strId + QLatin1Char('_') + QLatin1String(object)},
                           {QStringLiteral("state_topic"), StateTopic(strId)},
                           {QStringLiteral("availability_topic"), AvailabilityTopic(strId)},
                           {QStringLiteral("device"), device}};
        return std::make_pair(QStringLiteral("homeassistant/%1/%2/%3/config").arg(QLatin1String(component), strId, QLatin1String(object)),
                              config);
    };
    std::vector<Discovery> messages;
    const auto add = [&](std::pair<QString, QJsonObject> made) { messages.push_back({made.first, Compact(made.second)}); };
    const struct
    {
        const char* object;
        const char* name;
        const char* field;
        const char* unit;
        const char* deviceClass;
    } kSensors[] = {{"voltage", "Voltage", "v", "V", "voltage"}, {"current", "Current", "i", "A", "current"}};
    for (const auto& sensor : kSensors) {
        auto made = entity("sensor", sensor.object, sensor.name);
        made.second.insert(QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(sensor.field)));
        made.second.insert(QStringLiteral("unit_of_measurement"), QLatin1String(sensor.unit));
        made.second.insert(QStringLiteral("device_class"), QLatin1String(sensor.deviceClass));
        made.second.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        add(made);
    }
    const struct
    {
        const char* object;
        const char* name;
        const char* field;
        const char* command;
        const char* unit;
        double maximum;
        double step;
    } kNumbers[] = {{"set_voltage", "Voltage setpoint", "vset", "voltage", "V", fMaxVolts, 0.01},
                    {"set_current", "Current setpoint", "iset", "current", "A", fMaxAmps, 0.001}};
    for (const auto& number : kNumbers) {
        auto made = entity("number", number.object, number.name);
        made.second.insert(QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(number.field)));
        made.second.insert(QStringLiteral("command_topic"), BaseTopic(strId) + QStringLiteral("/set/") + QLatin1String(number.command));
        made.second.insert(QStringLiteral("min"), 0);
        made.second.insert(QStringLiteral("max"), number.maximum);
        made.second.insert(QStringLiteral("step"), number.step);
        made.second.insert(QStringLiteral("unit_of_measurement"), QLatin1String(number.unit));
        made.second.insert(QStringLiteral("mode"), QStringLiteral("box"));
        add(made);
    }
    auto output = entity("switch", "output", "Output");
    output.second.insert(QStringLiteral("value_template"), QStringLiteral("{{ 'ON' if value_json.out else 'OFF' }}"));
    output.second.insert(QStringLiteral("command_topic"), BaseTopic(strId) + QStringLiteral("/set/output"));
    output.second.insert(QStringLiteral("payload_on"), QStringLiteral("ON"));
    output.second.insert(QStringLiteral("payload_off"), QStringLiteral("OFF"));
    add(output);
    return messages;
}

std::optional<SetCommand> ParseSet(const QString& strId, const QString& strTopic, const QByteArray& payload, QString* pWhy)
{
    const auto fail = [pWhy](const QString& strWhy) -> std::optional<SetCommand> {
        if (pWhy)
            *pWhy = strWhy;
        return std::nullopt;
    };
    const QString prefix = BaseTopic(strId) + QStringLiteral("/set/");
    if (!strTopic.startsWith(prefix))
        return fail(QStringLiteral("not a command topic of this supply"));
    const QString name = strTopic.mid(prefix.size());
    if (payload.size() > kMaxPayload)
        return fail(QStringLiteral("the payload is too long"));
    const QByteArray text = payload.trimmed();
    if (name == QLatin1String("output")) {
        const QByteArray word = text.toUpper();
        if (word == "ON" || word == "1" || word == "TRUE")
            return SetCommand{SetCommand::Output, 1.0};
        if (word == "OFF" || word == "0" || word == "FALSE")
            return SetCommand{SetCommand::Output, 0.0};
        return fail(QStringLiteral("the output takes ON or OFF"));
    }
    if (name != QLatin1String("voltage") && name != QLatin1String("current"))
        return fail(QStringLiteral("there is no command \"%1\"").arg(name.left(32)));
    double value = 0.0;
    const char* begin = text.constData();
    const char* end = begin + text.size();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (text.isEmpty() || error != std::errc() || stop != end || !std::isfinite(value))
        return fail(QStringLiteral("the %1 takes a number").arg(name));
    return SetCommand{name == QLatin1String("voltage") ? SetCommand::Voltage : SetCommand::Current, value};
}

QByteArray ErrorPayload(const QString& strTopic, const QByteArray& payload, const QString& strWhy)
{
    return Compact(QJsonObject{{QStringLiteral("topic"), strTopic},
                               {QStringLiteral("payload"), QString::fromUtf8(payload.left(kMaxPayload))},
                               {QStringLiteral("error"), strWhy}});
}

} // namespace mqttmsg
