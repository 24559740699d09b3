#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class CSupplyService;
struct CServiceState;
class QHttpServer;

/// The state in Prometheus' text exposition format, every series labelled with the unit:
/// tarnwell_voltage_volts, tarnwell_current_amperes, the two setpoints, tarnwell_output_on,
/// tarnwell_constant_current, tarnwell_protection_tripped, tarnwell_link_up,
/// tarnwell_reconnects_total, tarnwell_samples_total.
QByteArray MetricsText(const CServiceState& state, const QString& strUnit);

/// /metrics over HTTP, for a Prometheus server to scrape; every other path is not found.
class CMetricsServer : public QObject
{
    Q_OBJECT
public:
    CMetricsServer(CSupplyService& service, QString strUnit, QObject* parent = nullptr);
    ~CMetricsServer() override;

    /// Listens on `address` at `nPort` (0: a free one); the port, or 0 with `pError` saying why.
    quint16 Listen(const QHostAddress& address, quint16 nPort, QString* pError);

private:
    CSupplyService& m_service;
    const QString m_strUnit;
    std::unique_ptr<QHttpServer> m_pServer;
};
