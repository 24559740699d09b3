#include "serve/Metrics.h"

#include "device/NumberText.h"
#include "serve/SupplyService.h"

#include <QHttpServer>
#include <QHttpServerResponse>

#include <string>

namespace {

// A label value as the format escapes it.
std::string Escaped(const QString& strValue)
{
    std::string text;
    for (const char c : strValue.toStdString()) {
        if (c == '\\' || c == '"')
            text += '\\';
        if (c == '\n')
            text += "\\n";
        else
            text += c;
    }
    return text;
}

} // namespace

QByteArray MetricsText(const CServiceState& state, const QString& strUnit)
{
    const std::string label = "{unit=\"" + Escaped(strUnit) + "\"}";
    std::string text;
    const auto series = [&](const char* name, const char* type, const char* help, const std::string& value) {
        text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
        text += std::string(name) + label + " " + value + "\n";
    };
    const auto number = [](double value, int decimals) { return numtext::Fixed(value, decimals); };
    const bool bReading = state.bLinked && state.nSamples > 0;
    // No reading is no zero: a series without one is left out rather than told as 0 V.
    if (bReading) {
        series("tarnwell_voltage_volts", "gauge", "Measured output voltage.", number(state.fVolts, 2));
        series("tarnwell_current_amperes", "gauge", "Measured output current.", number(state.fAmps, 3));
    }
    if (state.bSetKnown) {
        series("tarnwell_voltage_setpoint_volts", "gauge", "Voltage setpoint.", number(state.fSetVolts, 2));
        series("tarnwell_current_setpoint_amperes", "gauge", "Current limit setpoint.", number(state.fSetAmps, 3));
    }
    if (bReading) {
        series("tarnwell_output_on", "gauge", "1 while the output is on.", state.bOutput ? "1" : "0");
        series("tarnwell_constant_current", "gauge", "1 while the supply limits the current (C.C).", state.bCc ? "1" : "0");
        series("tarnwell_protection_tripped", "gauge", "1 while a protection has tripped.", state.nProtection ? "1" : "0");
    }
    series("tarnwell_link_up", "gauge", "1 while the supply answers.", state.bLinked ? "1" : "0");
    series("tarnwell_reconnects_total", "counter", "Times the link to the supply came back.", std::to_string(state.nReconnects));
    series("tarnwell_samples_total", "counter", "Samples with readings taken.", std::to_string(state.nSamples));
    return QByteArray::fromStdString(text);
}

CMetricsServer::CMetricsServer(CSupplyService& service, QString strUnit, QObject* parent)
    : QObject(parent), m_service(service), m_strUnit(std::move(strUnit)), m_pServer(std::make_unique<QHttpServer>())
{
    m_pServer->route(QStringLiteral("/metrics"), [this] {
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8", MetricsText(m_service.State(), m_strUnit));
    });
}

CMetricsServer::~CMetricsServer() = default;

quint16 CMetricsServer::Listen(const QHostAddress& address, quint16 nPort, QString* pError)
{
    const quint16 nListening = m_pServer->listen(address, nPort);
    if (nListening == 0 && pError)
        *pError = QStringLiteral("cannot listen on %1:%2").arg(address.toString()).arg(nPort);
    return nListening;
}
