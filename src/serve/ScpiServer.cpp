#include "serve/ScpiServer.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"
#include "serve/SupplyService.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

using scpiserve::Command;
using scpiserve::Request;
using scpiserve::Value;

namespace {

QByteArray Fixed(double value)
{
    return QByteArray::fromStdString(numtext::Fixed(value, 3));
}

QString EndpointOf(const QTcpServer& server)
{
    const QHostAddress address = server.serverAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]").arg(address.toString())
                                                                              : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(server.serverPort());
}

} // namespace

CScpiServer::CScpiServer(CSupplyService& service, QString strVersion, QObject* parent)
    : QObject(parent), m_service(service), m_strVersion(std::move(strVersion))
{
    connect(&m_service, &CSupplyService::Refused, this, [this](const QString&, bool bVoltage) {
        const auto found = m_clients.find(bVoltage ? m_nVoltageBy : m_nCurrentBy);
        if (found != m_clients.end())
            Queue(found->second, scpiserve::kDataOutOfRange);
    });
}

CScpiServer::~CScpiServer()
{
    for (auto& [nClient, client] : m_clients)
        client.pSocket->abort();
}

bool CScpiServer::Listen(const QHostAddress& address, quint16 nPort, bool bBothLoopbacks, QString* pError)
{
    std::vector<QHostAddress> addresses{address};
    if (bBothLoopbacks)
        addresses = {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    QString strWhy;
    for (const QHostAddress& at : addresses) {
        auto server = std::make_unique<QTcpServer>();
        // The second loopback takes the port the first one got, so one port reaches both.
        const quint16 nAt = m_servers.empty() ? nPort : m_servers.front()->serverPort();
        if (!server->listen(at, nAt)) {
            strWhy = server->errorString();
            continue;
        }
        QTcpServer* pServer = server.get();
        connect(pServer, &QTcpServer::newConnection, this, [this, pServer] { OnConnection(pServer); });
        m_servers.push_back(std::move(server));
    }
    if (m_servers.empty() && pError)
        *pError = strWhy;
    return !m_servers.empty();
}

QStringList CScpiServer::Endpoints() const
{
    QStringList endpoints;
    for (const auto& server : m_servers)
        endpoints << EndpointOf(*server);
    return endpoints;
}

void CScpiServer::OnConnection(QTcpServer* pServer)
{
    while (QTcpSocket* pSocket = pServer->nextPendingConnection()) {
        if (m_clients.size() >= static_cast<size_t>(kMaxClients)) {
            if (!m_bRefusalTold)
                std::fprintf(stderr, "tarnwell-cli: SCPI: %d clients are connected; further ones are closed at once\n",
                             kMaxClients);
            m_bRefusalTold = true;
            pSocket->abort();
            pSocket->deleteLater();
            continue;
        }
        m_bRefusalTold = false;
        const quint64 nClient = m_nNextClient++;
        pSocket->setParent(this);
        m_clients[nClient].pSocket = pSocket;
        connect(pSocket, &QTcpSocket::readyRead, this, [this, nClient] { OnReadable(nClient); });
        connect(pSocket, &QTcpSocket::disconnected, this, [this, nClient] { Drop(nClient, nullptr); });
    }
}

void CScpiServer::Drop(quint64 nClient, const char* pszWhy)
{
    const auto it = m_clients.find(nClient);
    if (it == m_clients.end())
        return;
    if (pszWhy)
        std::fprintf(stderr, "tarnwell-cli: SCPI: a client at %s was let go: %s\n",
                     qPrintable(it->second.pSocket->peerAddress().toString()), pszWhy);
    QTcpSocket* pSocket = it->second.pSocket;
    m_clients.erase(it);
    pSocket->disconnect(this);
    pSocket->abort();
    pSocket->deleteLater();
}

void CScpiServer::OnReadable(quint64 nClient)
{
    const auto it = m_clients.find(nClient);
    if (it == m_clients.end())
        return;
    Client& client = it->second;
    client.input += client.pSocket->readAll();
    TakeLines(client);
    Serve(nClient);
}

void CScpiServer::TakeLines(Client& client)
{
    for (;;) {
        const qsizetype nEnd = client.input.indexOf('\n');
        if (nEnd < 0) {
            if (client.input.size() > kMaxLine) {
                // An endless line is not kept: what came of it is thrown away up to its end.
                if (!client.bDiscarding)
                    Queue(client, scpiserve::kInputOverrun);
                client.bDiscarding = true;
                client.input.clear();
            }
            return;
        }
        const QByteArray line = client.input.left(nEnd);
        client.input.remove(0, nEnd + 1);
        if (client.bDiscarding || line.size() > kMaxLine) {
            if (!client.bDiscarding)
                Queue(client, scpiserve::kInputOverrun);
            client.bDiscarding = false;
            continue;
        }
        for (Request& request : scpiserve::ParseLine(std::string_view(line.constData(), static_cast<size_t>(line.size()))))
            client.pending.push_back(std::move(request));
    }
}

void CScpiServer::Serve(quint64 nClient)
{
    const auto it = m_clients.find(nClient);
    if (it == m_clients.end())
        return;
    Client& client = it->second;
    while (!client.bWaiting && !client.pending.empty()) {
        const Request request = std::move(client.pending.front());
        client.pending.pop_front();
        if (!Handle(nClient, client, request))
            client.bWaiting = true;
    }
    if (client.pSocket->bytesToWrite() > kMaxUnread)
        Drop(nClient, "it does not read its answers");
}

void CScpiServer::Answer(Client& client, const QByteArray& line)
{
    client.pSocket->write(line + '\n');
}

void CScpiServer::Queue(Client& client, scpiserve::Error error)
{
    if (client.errors.size() >= kMaxErrors) {
        client.errors.back() = scpiserve::kQueueOverflow;
        return;
    }
    client.errors.push_back(error);
}

QByteArray CScpiServer::Level(bool bVoltage, const std::optional<Value>& value) const
{
    const CServiceState& state = m_service.State();
    if (value && value->kind == Value::Maximum)
        return Fixed(bVoltage ? m_service.MaxVolts() : m_service.MaxAmps());
    if (value && value->kind == Value::Minimum)
        return Fixed(0.0);
    return Fixed(bVoltage ? state.fSetVolts : state.fSetAmps);
}

bool CScpiServer::SetLevel(bool bVoltage, const Value& value)
{
    double level = value.number;
    if (value.kind == Value::Maximum)
        level = bVoltage ? m_service.MaxVolts() : m_service.MaxAmps();
    else if (value.kind == Value::Minimum)
        level = 0.0;
    else if (value.kind == Value::Default)
        level = bVoltage ? supply::kInitialVolts : supply::kInitialAmps;
    return bVoltage ? m_service.SetVoltage(level) : m_service.SetCurrent(level);
}

bool CScpiServer::Handle(quint64 nClient, Client& client, const Request& request)
{
    if (!request.command) {
        Queue(client, request.error);
        return true;
    }
    const CServiceState& state = m_service.State();
    switch (*request.command) {
    case Command::Idn:
        Answer(client, QStringLiteral("Tarnwell,%1,%2,%3").arg(m_service.Model(), m_service.Serial(), m_strVersion).toUtf8());
        break;
    case Command::Rst:
        m_service.Reset();
        m_nVoltageBy = m_nCurrentBy = nClient;
        break;
    case Command::Cls:
        client.errors.clear();
        break;
    case Command::Opc:
    case Command::Wai:
        break; // every command is done in order anyway
    case Command::OpcQuery:
        // Answered once the supply has confirmed every change handed on before.
        m_service.AfterConfirmed([this, nClient](bool bConfirmed) {
            const auto it = m_clients.find(nClient);
            if (it == m_clients.end())
                return;
            if (!bConfirmed)
                Queue(it->second, {-240, "Hardware error"});
            Answer(it->second, "1");
            it->second.bWaiting = false;
            Serve(nClient);
        });
        return false;
    case Command::ErrorQuery: {
        const scpiserve::Error error = client.errors.empty() ? scpiserve::kNoError : client.errors.front();
        if (!client.errors.empty())
            client.errors.pop_front();
        Answer(client, QStringLiteral("%1,\"%2\"").arg(error.code).arg(QLatin1String(error.text)).toUtf8());
        break;
    }
    case Command::Volt:
    case Command::Curr:
        if (!SetLevel(*request.command == Command::Volt, *request.value))
            Queue(client, scpiserve::kDataOutOfRange); // the supply is not touched
        else
            (*request.command == Command::Volt ? m_nVoltageBy : m_nCurrentBy) = nClient;
        break;
    case Command::VoltQuery:
    case Command::CurrQuery:
        Answer(client, Level(*request.command == Command::VoltQuery, request.value));
        break;
    case Command::Outp:
        m_service.SetOutput(request.value->kind == Value::On);
        break;
    case Command::OutpQuery:
        Answer(client, state.bOutput ? "1" : "0");
        break;
    case Command::ModeQuery:
        Answer(client, state.bCc ? "CC" : "CV");
        break;
    case Command::TripQuery:
        Answer(client, state.nProtection != 0 ? "1" : "0");
        break;
    case Command::MeasVolt:
        Answer(client, Fixed(state.fVolts));
        break;
    case Command::MeasCurr:
        Answer(client, Fixed(state.fAmps));
        break;
    }
    return true;
}
