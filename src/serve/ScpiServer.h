#pragma once

#include "serve/ScpiParser.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <map>
#include <memory>
#include <vector>

class CSupplyService;
class QTcpServer;
class QTcpSocket;

/// The service's SCPI face on TCP (a VISA client's `TCPIP::host::port::SOCKET`): commands end
/// with LF (CR LF taken), `;` between commands, one reply line per query, an error queue per
/// client. Each command is handled whole, in arrival order; a client waiting for `*OPC?` holds up
/// only itself. What one client can do to the others is bounded: a line over 4 KiB is dropped
/// (-363), a client that reads nothing of what it asked is let go, and beyond kMaxClients a new
/// connection is closed at once.
class CScpiServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxClients = 16;
    static constexpr qsizetype kMaxLine = 4096;
    static constexpr qint64 kMaxUnread = 64 * 1024;
    static constexpr size_t kMaxErrors = 10;

    CScpiServer(CSupplyService& service, QString strVersion, QObject* parent = nullptr);
    ~CScpiServer() override;

    /// Listens on `address` at `nPort` (0: a free one). Loopback without an address given means
    /// both 127.0.0.1 and ::1. False, with `pError` saying why, when nothing could be listened on.
    bool Listen(const QHostAddress& address, quint16 nPort, bool bBothLoopbacks, QString* pError);
    /// Where it listens, as "127.0.0.1:5025" and "[::1]:5025".
    QStringList Endpoints() const;
    int ClientCount() const { return static_cast<int>(m_clients.size()); }

private:
    struct Client
    {
        QTcpSocket* pSocket = nullptr;
        QByteArray input;
        bool bDiscarding = false; ///< the rest of an overlong line is thrown away
        std::deque<scpiserve::Request> pending;
        std::deque<scpiserve::Error> errors;
        bool bWaiting = false; ///< an answer that needs the supply is awaited
    };

    void OnConnection(QTcpServer* pServer);
    void OnReadable(quint64 nClient);
    void TakeLines(Client& client);
    /// Handles what the client has pending until it must wait or has nothing left.
    void Serve(quint64 nClient);
    /// One command; false when its answer comes later.
    bool Handle(quint64 nClient, Client& client, const scpiserve::Request& request);
    void Answer(Client& client, const QByteArray& line);
    void Queue(Client& client, scpiserve::Error error);
    void Drop(quint64 nClient, const char* pszWhy);
    QByteArray Level(bool bVoltage, const std::optional<scpiserve::Value>& value) const;
    bool SetLevel(bool bVoltage, const scpiserve::Value& value);

    CSupplyService& m_service;
    const QString m_strVersion;
    std::vector<std::unique_ptr<QTcpServer>> m_servers;
    std::map<quint64, Client> m_clients;
    quint64 m_nNextClient = 1;
    // Who last set the voltage and the current: a value the unit refuses later is queued there.
    quint64 m_nVoltageBy = 0;
    quint64 m_nCurrentBy = 0;
    bool m_bRefusalTold = false;
};
