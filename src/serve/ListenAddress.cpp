#include "serve/ListenAddress.h"

std::optional<CListenAddress> CListenAddress::Read(const QString& strText, QString* pError)
{
    const auto fail = [&](const QString& strWhy) -> std::optional<CListenAddress> {
        if (pError)
            *pError = QStringLiteral("\"%1\" is no address to listen on: %2").arg(strText, strWhy);
        return std::nullopt;
    };
    QString host;
    QString port = strText;
    if (strText.startsWith(QLatin1Char('['))) {
        const qsizetype close = strText.indexOf(QStringLiteral("]:"));
        if (close < 0)
            return fail(QStringLiteral("write an IPv6 address as [ADDRESS]:PORT"));
        host = strText.mid(1, close - 1);
        port = strText.mid(close + 2);
    } else if (const qsizetype colon = strText.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = strText.left(colon);
        port = strText.mid(colon + 1);
    }
    bool bNumber = false;
    const uint nPort = port.toUInt(&bNumber);
    if (!bNumber || nPort > 65535 || port.isEmpty() || !port.at(0).isDigit())
        return fail(QStringLiteral("the port is a number from 0 to 65535"));
    CListenAddress listen;
    listen.nPort = static_cast<quint16>(nPort);
    if (host.isEmpty() || host == QLatin1String("localhost")) {
        listen.address = QHostAddress(QHostAddress::LocalHost);
        listen.bBothLoopbacks = true;
        return listen;
    }
    if (!listen.address.setAddress(host))
        return fail(QStringLiteral("\"%1\" is no IP address").arg(host));
    return listen;
}
