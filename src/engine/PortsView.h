#pragma once

#include "device/link/PortSetting.h"

#include <QString>

#include <optional>
#include <vector>

/// What a port reaches, and what answered there when it was probed.
struct CPortProbe
{
    QString strName;        ///< "COM1"
    QString strDescription; ///< the port list's tooltip text
    QString strAnswer;      ///< the identity, or why nothing answered (empty when not probed)
};

/// The ports of the list (COM1 onwards) as front ends show and choose them, and the user's
/// settings behind them. Holds nothing: every call reads the settings afresh.
class CPortsView
{
public:
    /// "COM1" for `nPort` 0.
    static QString Name(int nPort);
    /// With `bOn`, every port without its own TARNWELL_COM<n> reaches the built-in simulated supply.
    static void SimulateAll(bool bOn);
    static int Count();
    /// What port index `nPort` reaches, for the port list's tooltips.
    static QString Describe(int nPort);
    static QString Describe(const pslink::PortSetting& setting);
    /// A port setting as a user writes it ("sim", "/dev/ttyUSB0", "scpi:/dev/ttyACM0@115200"),
    /// for a supply object's m_portSetting; nullopt with `pError` saying why it cannot be used.
    static std::optional<pslink::PortSetting> Read(const QString& strText, QString* pError);
    /// Every port of the list with what it reaches; with `bAsk`, also what answers there (all at
    /// once, each on a thread of its own: a silent port takes seconds to give up).
    static std::vector<CPortProbe> Probe(bool bAsk);
    /// The lines of the user's settings files (ports.conf, modules.csv) that were ignored, each
    /// naming its file, line and why; empty when every line is usable.
    static std::vector<QString> SettingsIssues();
    /// Those issues as one message for the window; empty when there are none.
    static QString SettingsMessage();
};
