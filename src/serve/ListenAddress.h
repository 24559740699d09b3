#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

/// Where a server of the service listens, as `--scpi` and `--metrics` write it: "ADDR:PORT",
/// "[IPv6]:PORT", "localhost:PORT", or a bare "PORT" (loopback). Loopback without an address of
/// its own is both 127.0.0.1 and ::1; an address is taken as given (0.0.0.0 or [::] for every
/// interface, which the user then chose).
struct CListenAddress
{
    QHostAddress address;
    quint16 nPort = 0;
    bool bBothLoopbacks = false;

    /// nullopt with `pError` saying why when `strText` is no such address.
    static std::optional<CListenAddress> Read(const QString& strText, QString* pError);
};
