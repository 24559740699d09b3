#pragma once

#include <QString>

#include <optional>

namespace pslink {

struct DialectInfo;

/// What one port reaches, as a value: a driver of the registry (a wire dialect, or a driver
/// that needs no wire such as the built-in simulator) and, for a wire, where and how fast.
/// A default-constructed setting reaches nothing.
struct PortSetting
{
    /// The driver; nullptr: a wire dialect detected on connect (or nothing, without a path).
    const DialectInfo* dialect = nullptr;
    /// The serial port; empty for a driver without a wire and for a setting that reaches nothing.
    QString path;
    int baud = 9600;
    /// For the built-in simulator: which simulated supply (0..kPortCount-1; COMn has its own,
    /// which keeps its state across reconnects).
    int simulator = 0;
    /// The text of a setting that could not be read (a TARNWELL_COM<n> with a typo): it opens
    /// nothing and says so in its description. Empty for every usable setting.
    QString unusable;

    /// Neither a driver nor a path nor unreadable text: nothing is behind this port.
    bool reachesNothing() const { return !dialect && path.isEmpty() && unusable.isEmpty(); }
    bool operator==(const PortSetting&) const = default;
};

// ParsePortSetting and DescribePortSetting are in device/pslink.h.

/// As ParsePortSetting, but text that cannot be read is kept as an unusable setting; blank text
/// reaches nothing.
PortSetting ReadPortSetting(const QString& text);

} // namespace pslink
