// Targets for what reaches the service from outside: a SCPI client's lines, MQTT command topics
// and payloads, the listen addresses and the broker URL of the command line.
#include "fuzz/harness/FuzzOracles.h"
#include "fuzz/harness/FuzzTargets.h"

#include "serve/ListenAddress.h"
#include "serve/MqttBridge.h"
#include "serve/MqttMessages.h"
#include "serve/ScpiParser.h"

#include <QByteArray>
#include <QString>

#include <cmath>

namespace fuzz {

namespace {

void RunScpiLine(std::string_view input)
{
    const std::vector<scpiserve::Request> requests = scpiserve::ParseLine(input);
    size_t separators = 0;
    for (const char c : input)
        separators += c == ';';
    // Never more commands than the line has parts.
    Check(requests.size() <= separators + 1, "more commands than parts");
    for (const scpiserve::Request& request : requests) {
        Check(request.command.has_value() == (request.error.code == 0), "a command with an error, or neither");
        if (request.value && request.value->kind == scpiserve::Value::Number)
            Check(std::isfinite(request.value->number), "a level that is no finite number");
    }
}

void RunMqttSet(std::string_view input)
{
    // The first line is the topic, the rest the payload.
    const size_t end = input.find('\n');
    const QString topic = QString::fromUtf8(input.substr(0, end));
    const std::string_view rest = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    const QByteArray payload(rest.data(), static_cast<qsizetype>(rest.size()));
    QString why;
    const auto command = mqttmsg::ParseSet(QStringLiteral("unit"), topic, payload, &why);
    Check(command.has_value() != !why.isEmpty(), "a command and a reason, or neither");
    if (command)
        Check(std::isfinite(command->value), "a value that is no finite number");
    // What is refused is told back without breaking its JSON.
    Check(!mqttmsg::ErrorPayload(topic, payload, why).isEmpty(), "no error payload");
}

void RunServeSettings(std::string_view input)
{
    const QString text = QString::fromUtf8(input);
    QString why;
    const auto listen = CListenAddress::Read(text, &why);
    Check(listen.has_value() == why.isEmpty(), "an address and a reason, or neither");
    why.clear();
    const auto mqtt = CMqttSettings::Read(text, &why);
    Check(mqtt.has_value() == why.isEmpty(), "settings and a reason, or neither");
    if (mqtt)
        Check(!mqtt->strHost.isEmpty() && mqtt->nPort >= 0 && mqtt->nPort <= 65535, "a broker without a host or port");
}

} // namespace

std::vector<Target> ServeTargets()
{
    return {
        {"serve-scpi-line",
         RunScpiLine,
         {"*IDN?", "VOLT 5;CURR 1.5", "SOUR:VOLT:LEV:IMM:AMPL 250 mV", "MEAS:VOLT?;CURR?", "OUTP ON;:OUTP?",
          "SYST:ERR?", "volt? max", "*OPC?", "OUTP:PROT:TRIP?"},
         {"VOLT", "CURR", "OUTP", "MEAS", "SOUR", ":", ";", "?", "*", "MAX", "MIN", "DEF", "ON", "OFF", "\"", "'",
          "1E308", "mA", " "},
         4096},
        {"serve-mqtt-set",
         RunMqttSet,
         {"tarnwell/unit/set/voltage\n12.5", "tarnwell/unit/set/output\nON", "tarnwell/unit/set/current\n0.250"},
         {"tarnwell/unit/set/", "voltage", "current", "output", "\n", "ON", "true", "nan", "inf", "1e999"},
         512},
        {"serve-settings",
         RunServeSettings,
         {"127.0.0.1:5025", "[::1]:9100", "localhost:0", "mqtt://broker:1883", "mqtts://host", "mqtt://u:p@h"},
         {"mqtt://", "mqtts://", "[", "]", ":", "@", "/", "65535", "65536", "localhost"},
         256},
    };
}

} // namespace fuzz
