#include "device/pslink.h"

#include "device/NumberText.h"
#include "device/link/Link.h"
#include "device/link/SerialLink.h"
#include "device/link/SerialPorts.h"
#include "device/link/SimLink.h"
#include "device/link/SimulatedSupply.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr int kDevices = 8;
constexpr int kPorts = pslink::kPortCount;

struct Device
{
    // Guards the members. The simulator link is called under it (one caller at a time); a
    // serial link keeps its own lock and is called outside it, so a slow dsoReadVersion on the
    // worker thread never holds up the UI thread's reads.
    std::mutex lock;
    std::shared_ptr<pslink::Link> link;
    bool concurrent = false; // link is safe to call from several threads at once
    std::shared_ptr<pslink::SimulatedSupply> sim; // kept after CloseCOM so its log stays readable
    QString openError; // why the last OpenCOM could not open its port
};

std::array<Device, kDevices> g_devices;
std::atomic<bool> g_simulateAll{false};

// The supply on the desk keeps its state when the link is closed and opened again.
std::mutex g_simLock;
std::array<std::shared_ptr<pslink::SimulatedSupply>, kPorts> g_portSims;

Device* deviceAt(int device)
{
    return device >= 0 && device < kDevices ? &g_devices[static_cast<size_t>(device)] : nullptr;
}

struct PortTarget
{
    enum Kind { None, Sim, Serial } kind = None;
    QString target;
    QString adapter; // what the system knows of the port, when it came from its list
};

PortTarget resolvePort(int port)
{
    if (port < 0 || port >= kPorts)
        return {};
    const QByteArray env = qgetenv(QByteArray("TARNWELL_COM") + QByteArray::number(port + 1));
    if (!env.trimmed().isEmpty()) {
        const QString value = QString::fromLocal8Bit(env.trimmed());
        if (value.compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0)
            return {PortTarget::Sim, QString(), QString()};
        return {PortTarget::Serial, value, QString()};
    }
    if (g_simulateAll.load())
        return {PortTarget::Sim, QString(), QString()};
    const std::vector<pslink::SerialPortEntry> ports = pslink::SystemSerialPorts();
    if (static_cast<size_t>(port) < ports.size()) {
        const pslink::SerialPortEntry& entry = ports[static_cast<size_t>(port)];
        return {PortTarget::Serial, entry.path, pslink::DescribeAdapter(entry)};
    }
    return {};
}

std::shared_ptr<pslink::SimulatedSupply> simulatorForPort(int port)
{
    std::lock_guard<std::mutex> guard(g_simLock);
    auto& sim = g_portSims[static_cast<size_t>(port)];
    if (!sim)
        sim = std::make_shared<pslink::SimulatedSupply>();
    return sim;
}

std::string digitsText(const unsigned char* digits)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i)
            text += ',';
        text += std::to_string(static_cast<int>(digits[i]));
    }
    return text;
}

} // namespace

int OpenCOM(int device, int port)
{
    Device* d = deviceAt(device);
    if (!d)
        return 0;
    std::shared_ptr<pslink::Link> previous;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        previous = std::move(d->link);
        d->link.reset();
    }
    if (previous)
        previous->close(); // a serial link may take a moment; nobody waits on the device lock

    const PortTarget target = resolvePort(port);
    std::shared_ptr<pslink::Link> link;
    std::shared_ptr<pslink::SimulatedSupply> sim;
    QString openError;
    switch (target.kind) {
    case PortTarget::Sim:
        sim = simulatorForPort(port);
        link = std::make_shared<pslink::SimLink>(sim);
        break;
    case PortTarget::Serial:
        link = pslink::OpenSerialLink(target.target, &openError);
        break;
    case PortTarget::None:
        break;
    }
    std::shared_ptr<pslink::Link> overtaken;
    bool concurrentOvertaken = false;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        // Another thread opened the device meanwhile: the later open wins.
        overtaken = std::move(d->link);
        concurrentOvertaken = d->concurrent;
        d->link = link;
        d->concurrent = target.kind == PortTarget::Serial;
        d->sim = sim;
        d->openError = link ? QString() : openError;
        if (d->link)
            d->link->noteCall("OpenCOM " + std::to_string(port));
        if (overtaken && !concurrentOvertaken)
            overtaken->close(); // the simulator's close is instant; it expects the lock held
    }
    if (overtaken && concurrentOvertaken)
        overtaken->close(); // up to a second: never under the lock the UI thread's reads take
    return link ? 1 : 0;
}

namespace {

std::string identityOf(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return {};
    std::unique_lock<std::mutex> guard(d->lock);
    const std::shared_ptr<pslink::Link> link = d->link;
    if (!link)
        return {};
    link->noteCall("dsoReadVersion");
    if (d->concurrent)
        guard.unlock(); // the probes take seconds when nothing answers
    return link->readVersion();
}

} // namespace

std::int16_t dsoReadVersion(int device, unsigned char* version)
{
    const std::string text = identityOf(device);
    if (version) {
        std::fill(version, version + 10, 0);
        std::copy_n(text.begin(), std::min<size_t>(text.size(), 9), version);
    }
    return text.empty() ? 0 : 1;
}

namespace {

template <typename F>
auto withLink(int device, const char* call, F&& action, decltype(action(std::declval<pslink::Link&>())) otherwise)
{
    Device* d = deviceAt(device);
    if (!d)
        return otherwise;
    std::unique_lock<std::mutex> guard(d->lock);
    const std::shared_ptr<pslink::Link> link = d->link;
    if (!link)
        return otherwise;
    if (call)
        link->noteCall(call);
    if (d->concurrent)
        guard.unlock();
    return action(*link);
}

} // namespace

void dsoCloseOutput(int device)
{
    withLink(device, "dsoCloseOutput", [](pslink::Link& l) { l.setOutput(false); return 0; }, 0);
}

void dsoOpenOutput(int device)
{
    withLink(device, "dsoOpenOutput", [](pslink::Link& l) { l.setOutput(true); return 0; }, 0);
}

void dsoOpenPower(int device)
{
    withLink(device, "dsoOpenPower", [](pslink::Link& l) { l.openPower(); return 0; }, 0);
}

std::int16_t dsoSetVoltage(int device, unsigned char* digits)
{
    if (!digits)
        return 0;
    const std::string call = "dsoSetVoltage " + digitsText(digits);
    return withLink(device, call.c_str(),
                    [&](pslink::Link& l) {
                        return std::int16_t(l.setVoltage(numtext::CountFromDigits(digits)) ? 1 : 0);
                    },
                    std::int16_t(0));
}

std::int16_t dsoSetCurrent(int device, unsigned char* digits)
{
    if (!digits)
        return 0;
    const std::string call = "dsoSetCurrent " + digitsText(digits);
    return withLink(device, call.c_str(),
                    [&](pslink::Link& l) {
                        return std::int16_t(l.setCurrent(numtext::CountFromDigits(digits)) ? 1 : 0);
                    },
                    std::int16_t(0));
}

void dsoReadVoltage(int device, unsigned char* digits)
{
    if (!digits)
        return;
    withLink(
        device, "dsoReadVoltage",
        [&](pslink::Link& l) {
            numtext::DigitsFromCount(l.readVoltage(), digits);
            return 0;
        },
        0);
}

void dsoReadCurrent(int device, unsigned char* digits)
{
    if (!digits)
        return;
    withLink(
        device, "dsoReadCurrent",
        [&](pslink::Link& l) {
            numtext::DigitsFromCount(l.readCurrent(), digits);
            return 0;
        },
        0);
}

void dsoReadState(int device, int* out, int* cv, int* cc)
{
    int o = 0, v = 0, c = 0;
    withLink(device, "dsoReadState", [&](pslink::Link& l) { l.readState(o, v, c); return 0; }, 0);
    if (out)
        *out = o;
    if (cv)
        *cv = v;
    if (cc)
        *cc = c;
}

void CloseCOM(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return;
    std::shared_ptr<pslink::Link> link;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        if (!d->link)
            return;
        d->link->noteCall("CloseCOM");
        link = std::move(d->link);
        d->link.reset();
        if (!d->concurrent) {
            link->close();
            return;
        }
    }
    link->close(); // bounded by the link itself; other callers may finish with their copy
}

int dsoLinkAlive(int device)
{
    return withLink(device, nullptr, [](pslink::Link& l) { return l.alive() ? 1 : 0; }, 0);
}

namespace pslink {

namespace {

void afterCommands(int device, bool freshReadings, std::function<void(bool ok)> done)
{
    if (!done)
        return;
    std::shared_ptr<Link> link;
    if (Device* d = deviceAt(device)) {
        std::lock_guard<std::mutex> guard(d->lock);
        link = d->link;
    }
    // Outside the device lock: `done` may well call back into the library.
    if (link)
        link->afterCommands(freshReadings, std::move(done));
    else
        done(false);
}

} // namespace

void AfterFreshReadings(int device, std::function<void(bool ok)> done)
{
    afterCommands(device, true, std::move(done));
}

void AfterCommandsConfirmed(int device, std::function<void(bool ok)> done)
{
    afterCommands(device, false, std::move(done));
}

QString LastOpenError(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return {};
    std::lock_guard<std::mutex> guard(d->lock);
    return d->openError;
}

void SetSimulateAll(bool on)
{
    g_simulateAll.store(on);
}

bool SimulateAll()
{
    return g_simulateAll.load();
}

QString DescribePort(int port)
{
    const PortTarget target = resolvePort(port);
    switch (target.kind) {
    case PortTarget::Sim:
        return QStringLiteral("Simulated supply (built in)");
    case PortTarget::Serial: {
        QString adapter = target.adapter;
        const auto parsed = pslink::ParseSerialTarget(target.target);
        if (adapter.isEmpty() && parsed) // named by TARNWELL_COM<n>: it may still be a known adapter
            if (const auto entry = pslink::FindSerialPort(parsed->path))
                adapter = pslink::DescribeAdapter(*entry);
        return pslink::DescribeSerialTarget(target.target, adapter);
    }
    case PortTarget::None:
        break;
    }
    return QStringLiteral("No serial port");
}

std::string ReadIdentity(int device)
{
    return identityOf(device);
}

SimulatedSupply* SimulatorFor(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return nullptr;
    std::lock_guard<std::mutex> guard(d->lock);
    return d->sim.get();
}

void ResetSimulators()
{
    for (auto& d : g_devices) {
        std::lock_guard<std::mutex> guard(d.lock);
        if (d.link && d.sim) {
            d.link->close();
            d.link.reset();
        }
        d.sim.reset();
    }
    std::lock_guard<std::mutex> guard(g_simLock);
    for (auto& sim : g_portSims)
        sim.reset();
}

} // namespace pslink
