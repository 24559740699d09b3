#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class CSupplyService;
struct CServiceState;
struct mosquitto;

/// Where the broker is and who the service is to it. User, password and the certificate
/// authority never come from the command line (where every user of the machine reads them):
/// from TARNWELL_MQTT_USER, TARNWELL_MQTT_PASSWORD and TARNWELL_MQTT_CAFILE, or from the file
/// TARNWELL_MQTT_CREDENTIALS names (else $XDG_CONFIG_HOME/tarnwell/mqtt.conf), lines
/// "user=...", "password=...", "cafile=...".
struct CMqttSettings
{
    QString strHost;
    int nPort = 1883;
    bool bTls = false;
    QString strUser;
    QString strPassword;
    QString strCaFile;
    QString strId; ///< the topics' <id>; empty: made from the unit's identity

    /// `strUrl`: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS, port 8883 by default).
    static std::optional<CMqttSettings> Read(const QString& strUrl, QString* pError);
};

/// The supply on an MQTT broker: its state as one retained JSON object per sample, its
/// availability (online, and offline as the last will), Home Assistant's discovery, and the set
/// commands, each refused with a line on standard error and a message on tarnwell/<id>/error
/// when it is malformed or out of range (the supply untouched). A broker that goes away is
/// tried again; once it is back the service says it is online, and the state resumes.
/// libmosquitto's thread does the network work; everything else runs on this object's thread.
class CMqttBridge : public QObject
{
    Q_OBJECT
public:
    CMqttBridge(CSupplyService& service, CMqttSettings settings, QObject* parent = nullptr);
    /// Tells the broker the supply is offline and leaves it.
    ~CMqttBridge() override;

    /// Starts connecting (it goes on in the background); false when libmosquitto refused the
    /// settings at once, with `pError` saying why.
    bool Start(QString* pError);
    QString Id() const { return m_strId; }
    /// Where it talks to: "mqtt://127.0.0.1:1883".
    QString Describe() const;

private:
    void OnConnected(int nResult);
    void OnDisconnected(int nResult);
    void OnMessage(const QString& strTopic, const QByteArray& payload);
    void OnSampled(const CServiceState& state);
    void Publish(const QString& strTopic, const QByteArray& payload, bool bRetain);
    void Refuse(const QString& strTopic, const QByteArray& payload, const QString& strWhy);

    CSupplyService& m_service;
    const CMqttSettings m_settings;
    QString m_strId;
    mosquitto* m_pClient = nullptr;
    bool m_bConnected = false; ///< this thread's view
    bool m_bTold = false;      ///< the broker's absence was said since it was last there
};
