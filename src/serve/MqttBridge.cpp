#include "serve/MqttBridge.h"

#include "serve/MqttMessages.h"
#include "serve/SupplyService.h"

#include <QFile>
#include <QUrl>

#include <mosquitto.h>

#include <cstdio>
#include <mutex>

namespace {

constexpr int kKeepAliveSeconds = 30;

// libmosquitto wants one call before any client, however many bridges there are.
void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString ConfigFile()
{
    if (const QByteArray given = qgetenv("TARNWELL_MQTT_CREDENTIALS"); !given.isEmpty())
        return QFile::decodeName(given);
    QByteArray base = qgetenv("XDG_CONFIG_HOME");
    if (base.isEmpty() || !base.startsWith('/'))
        base = qgetenv("HOME") + "/.config";
    return QFile::decodeName(base) + QStringLiteral("/tarnwell/mqtt.conf");
}

// The credentials file's "key=value" lines; the environment wins over it.
bool ReadCredentials(CMqttSettings& settings, QString* pError)
{
    QFile file(ConfigFile());
    const bool bNamed = !qEnvironmentVariableIsEmpty("TARNWELL_MQTT_CREDENTIALS");
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const QByteArray line = raw.trimmed();
            const qsizetype equals = line.indexOf('=');
            if (line.isEmpty() || line.startsWith('#') || equals < 0)
                continue;
            const QByteArray key = line.left(equals).trimmed();
            const QString value = QString::fromUtf8(line.mid(equals + 1).trimmed());
            if (key == "user")
                settings.strUser = value;
            else if (key == "password")
                settings.strPassword = value;
            else if (key == "cafile")
                settings.strCaFile = value;
        }
    } else if (bNamed) {
        if (pError)
            *pError = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    if (qEnvironmentVariableIsSet("TARNWELL_MQTT_USER"))
        settings.strUser = qEnvironmentVariable("TARNWELL_MQTT_USER");
    if (qEnvironmentVariableIsSet("TARNWELL_MQTT_PASSWORD"))
        settings.strPassword = qEnvironmentVariable("TARNWELL_MQTT_PASSWORD");
    if (qEnvironmentVariableIsSet("TARNWELL_MQTT_CAFILE"))
        settings.strCaFile = qEnvironmentVariable("TARNWELL_MQTT_CAFILE");
    return true;
}

} // namespace

std::optional<CMqttSettings> CMqttSettings::Read(const QString& strUrl, QString* pError)
{
    const auto fail = [pError](const QString& strWhy) -> std::optional<CMqttSettings> {
        if (pError)
            *pError = strWhy;
        return std::nullopt;
    };
    const QUrl url(strUrl, QUrl::StrictMode);
    CMqttSettings settings;
    settings.bTls = url.scheme() == QLatin1String("mqtts");
    if (!url.isValid() || (url.scheme() != QLatin1String("mqtt") && !settings.bTls) || url.host().isEmpty())
        return fail(QStringLiteral("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"%1\"").arg(strUrl));
    if (!url.userInfo().isEmpty())
        return fail(QStringLiteral("--mqtt: a user or password does not belong on the command line; set "
                                   "TARNWELL_MQTT_USER and TARNWELL_MQTT_PASSWORD, or write them to %1")
                        .arg(ConfigFile()));
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return fail(QStringLiteral("--mqtt: \"%1\" names no broker: no path after the port").arg(strUrl));
    settings.strHost = url.host();
    settings.nPort = url.port(settings.bTls ? 8883 : 1883);
    if (!ReadCredentials(settings, pError))
        return std::nullopt;
    return settings;
}

CMqttBridge::CMqttBridge(CSupplyService& service, CMqttSettings settings, QObject* parent)
    : QObject(parent), m_service(service), m_settings(std::move(settings))
{
    m_strId = m_settings.strId.isEmpty() ? mqttmsg::ServiceId(service.Identity()) : m_settings.strId;
    connect(&m_service, &CSupplyService::Sampled, this, &CMqttBridge::OnSampled);
    // A value the supply itself refused came through a topic, a SCPI client or a reset alike:
    // told to every subscriber of the errors.
    connect(&m_service, &CSupplyService::Refused, this, [this](const QString& strWhat) {
        Publish(mqttmsg::ErrorTopic(m_strId),
                mqttmsg::ErrorPayload(QString(), QByteArray(), QStringLiteral("the supply refused %1").arg(strWhat)), false);
    });
}

CMqttBridge::~CMqttBridge()
{
    if (!m_pClient)
        return;
    if (m_bConnected)
        Publish(mqttmsg::AvailabilityTopic(m_strId), "offline", true);
    mosquitto_disconnect(m_pClient);
    mosquitto_loop_stop(m_pClient, false); // no callback runs after this
    mosquitto_destroy(m_pClient);
}

QString CMqttBridge::Describe() const
{
    return QStringLiteral("%1://%2:%3").arg(m_settings.bTls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"),
                                           m_settings.strHost)
        .arg(m_settings.nPort);
}

bool CMqttBridge::Start(QString* pError)
{
    InitLibrary();
    const QByteArray clientId = ("tarnwell-" + m_strId).toUtf8().left(64);
    m_pClient = mosquitto_new(clientId.constData(), true, this);
    const auto failed = [&](int nResult) {
        if (pError)
            *pError = QString::fromUtf8(mosquitto_strerror(nResult));
        return false;
    };
    if (!m_pClient)
        return failed(MOSQ_ERR_NOMEM);
    // Callbacks arrive on libmosquitto's thread: each is carried over to this object's.
    mosquitto_connect_callback_set(m_pClient, [](mosquitto*, void* self, int nResult) {
        auto* bridge = static_cast<CMqttBridge*>(self);
        QMetaObject::invokeMethod(bridge, [bridge, nResult] { bridge->OnConnected(nResult); }, Qt::QueuedConnection);
    });
    mosquitto_disconnect_callback_set(m_pClient, [](mosquitto*, void* self, int nResult) {
        auto* bridge = static_cast<CMqttBridge*>(self);
        QMetaObject::invokeMethod(bridge, [bridge, nResult] { bridge->OnDisconnected(nResult); }, Qt::QueuedConnection);
    });
    mosquitto_message_callback_set(m_pClient, [](mosquitto*, void* self, const mosquitto_message* message) {
        auto* bridge = static_cast<CMqttBridge*>(self);
        const QString topic = QString::fromUtf8(message->topic);
        const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
        QMetaObject::invokeMethod(bridge, [bridge, topic, payload] { bridge->OnMessage(topic, payload); },
                                  Qt::QueuedConnection);
    });
    const QByteArray will = mqttmsg::AvailabilityTopic(m_strId).toUtf8();
    int nResult = mosquitto_will_set(m_pClient, will.constData(), 7, "offline", 1, true);
    if (nResult == MOSQ_ERR_SUCCESS && !m_settings.strUser.isEmpty())
        nResult = mosquitto_username_pw_set(m_pClient, m_settings.strUser.toUtf8().constData(),
                                            m_settings.strPassword.isEmpty() ? nullptr
                                                                             : m_settings.strPassword.toUtf8().constData());
    if (nResult == MOSQ_ERR_SUCCESS && m_settings.bTls) {
        const QByteArray caFile = m_settings.strCaFile.toUtf8();
        nResult = mosquitto_tls_set(m_pClient, caFile.isEmpty() ? nullptr : caFile.constData(),
                                    caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
    }
    if (nResult != MOSQ_ERR_SUCCESS)
        return failed(nResult);
    mosquitto_reconnect_delay_set(m_pClient, 1, 10, true);
    // A broker not up yet is no failure: the loop keeps trying, as after it went away.
    nResult = mosquitto_connect_async(m_pClient, m_settings.strHost.toUtf8().constData(), m_settings.nPort,
                                      kKeepAliveSeconds);
    if (nResult != MOSQ_ERR_SUCCESS && nResult != MOSQ_ERR_ERRNO && nResult != MOSQ_ERR_CONN_REFUSED)
        return failed(nResult);
    if (nResult != MOSQ_ERR_SUCCESS)
        OnDisconnected(nResult);
    nResult = mosquitto_loop_start(m_pClient);
    return nResult == MOSQ_ERR_SUCCESS || failed(nResult);
}

void CMqttBridge::Publish(const QString& strTopic, const QByteArray& payload, bool bRetain)
{
    const QByteArray topic = strTopic.toUtf8();
    // Safe from this thread while the loop runs on its own; dropped while the broker is away.
    mosquitto_publish(m_pClient, nullptr, topic.constData(), static_cast<int>(payload.size()), payload.constData(),
                      1, bRetain);
}

void CMqttBridge::OnConnected(int nResult)
{
    if (nResult != 0) {
        if (!m_bTold)
            std::fprintf(stderr, "tarnwell-cli: MQTT: %s refused the connection: %s\n", qPrintable(Describe()),
                         mosquitto_connack_string(nResult));
        m_bTold = true;
        return;
    }
    m_bConnected = true;
    m_bTold = false;
    std::fprintf(stderr, "tarnwell-cli: MQTT: connected to %s as tarnwell/%s\n", qPrintable(Describe()),
                 qPrintable(m_strId));
    // Again after every return of the broker: it may have lost what was retained.
    const QByteArray filter = mqttmsg::SetFilter(m_strId).toUtf8();
    mosquitto_subscribe(m_pClient, nullptr, filter.constData(), 1);
    for (const mqttmsg::Discovery& message :
         mqttmsg::DiscoveryMessages(m_strId, m_service.Model(), m_service.MaxVolts(), m_service.MaxAmps()))
        Publish(message.strTopic, message.payload, true);
    Publish(mqttmsg::AvailabilityTopic(m_strId), "online", true);
    if (m_service.State().nSample > 0)
        Publish(mqttmsg::StateTopic(m_strId), mqttmsg::StatePayload(m_service.State()), true);
}

void CMqttBridge::OnDisconnected(int nResult)
{
    m_bConnected = false;
    if (nResult != 0 && !m_bTold)
        std::fprintf(stderr, "tarnwell-cli: MQTT: %s cannot be reached (%s); trying again\n", qPrintable(Describe()),
                     mosquitto_strerror(nResult));
    m_bTold = m_bTold || nResult != 0;
}

void CMqttBridge::OnSampled(const CServiceState& state)
{
    if (m_bConnected)
        Publish(mqttmsg::StateTopic(m_strId), mqttmsg::StatePayload(state), true);
}

void CMqttBridge::Refuse(const QString& strTopic, const QByteArray& payload, const QString& strWhy)
{
    std::fprintf(stderr, "tarnwell-cli: MQTT: refused %s \"%s\": %s\n", qPrintable(strTopic),
                 qPrintable(QString::fromUtf8(payload.left(64))), qPrintable(strWhy));
    Publish(mqttmsg::ErrorTopic(m_strId), mqttmsg::ErrorPayload(strTopic, payload, strWhy), false);
}

void CMqttBridge::OnMessage(const QString& strTopic, const QByteArray& payload)
{
    QString strWhy;
    const std::optional<mqttmsg::SetCommand> command = mqttmsg::ParseSet(m_strId, strTopic, payload, &strWhy);
    if (!command)
        return Refuse(strTopic, payload, strWhy);
    switch (command->kind) {
    case mqttmsg::SetCommand::Voltage:
        if (!m_service.SetVoltage(command->value))
            Refuse(strTopic, payload, QStringLiteral("the voltage is 0 to %1 V").arg(m_service.MaxVolts()));
        break;
    case mqttmsg::SetCommand::Current:
        if (!m_service.SetCurrent(command->value))
            Refuse(strTopic, payload, QStringLiteral("the current is 0 to %1 A").arg(m_service.MaxAmps()));
        break;
    case mqttmsg::SetCommand::Output:
        m_service.SetOutput(command->value != 0.0);
        break;
    }
}
