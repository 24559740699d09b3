#include "device/pslink.h"

#include "device/NumberText.h"
#include "device/link/DeviceTable.h"
#include "device/link/Link.h"
#include "device/link/SimLink.h"
#include "device/link/SimulatedSupply.h"
#include "device/link/StablePort.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace {

using pslink::Device;
using pslink::deviceAt;
using pslink::linkFor;
using pslink::openOn;
using pslink::takeLink;

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

namespace pslink {

int OpenPort(int device, const PortSetting& setting, QString* error)
{
    Device* d = deviceAt(device);
    if (!d)
        return 0;
    // What finds this port again after an unplug, as the system names it now.
    const StablePortName stable = setting.onSerialPort() ? StableNameOf(setting.path, SystemSerialPorts())
                                                        : StablePortName{};
    return openOn(*d, setting, setting, error, stable);
}

int Reopen(int device, QString* error)
{
    Device* d = deviceAt(device);
    if (!d)
        return 0;
    std::optional<PortSetting> setting;
    StablePortName stable;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        setting = d->setting;
        stable = d->stable;
    }
    if (!setting)
        return 0;
    if (!setting->onSerialPort())
        return openOn(*d, *setting, *setting, error, stable); // the same driver, or host and port
    const std::vector<SerialPortEntry> ports = stable.serialNumber.isEmpty() ? std::vector<SerialPortEntry>{}
                                                                             : SystemSerialPorts();
    if (const auto previous = takeLink(*d))
        previous->close(); // whatever the paths, the old link is not kept
    QString why = OpenFailureMessage(setting->path, OpenFailure::Missing, {}); // the adapter is not there
    for (const QString& path : ReopenPaths(setting->path, stable, ports)) {
        PortSetting here = *setting;
        here.path = path;
        if (openOn(*d, here, *setting, &why, stable) != 0)
            return 1;
    }
    if (error)
        *error = why;
    return 0;
}

} // namespace pslink

int OpenCOM(int device, int port)
{
    return pslink::OpenPort(device, pslink::PortSettingFor(port));
}

namespace {

std::string identityOf(int device)
{
    const auto link = linkFor(device, "dsoReadVersion");
    return link ? link->readVersion() : std::string(); // the probes take seconds when nothing answers
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
    const auto link = linkFor(device, call);
    return link ? action(*link) : otherwise;
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

namespace pslink {

unsigned ReadProtection(int device)
{
    return withLink(device, nullptr, [](Link& l) { return l.readProtection(); }, 0u);
}

} // namespace pslink

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
    }
    link->close(); // bounded by the link itself; other callers may finish with their copy
}

namespace pslink {

void CancelWaits(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return;
    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        d->waitsCancelled = true;
        link = d->link;
    }
    if (link)
        link->cancelWaits(); // returns at once: it only wakes whoever waits
}

void ResumeWaits(int device)
{
    if (Device* d = deviceAt(device)) {
        std::lock_guard<std::mutex> guard(d->lock);
        d->waitsCancelled = false;
    }
}

} // namespace pslink

int dsoLinkAlive(int device)
{
    return withLink(device, nullptr, [](pslink::Link& l) { return l.alive() ? 1 : 0; }, 0);
}

namespace pslink {

namespace {

void afterCommands(int device, Awaited what, std::function<void(bool ok)> done)
{
    if (!done)
        return;
    const auto link = linkFor(device, nullptr);
    // Outside the device lock: `done` may well call back into the library.
    if (link)
        link->afterCommands(what, std::move(done));
    else
        done(false);
}

} // namespace

void AfterFreshReadings(int device, std::function<void(bool ok)> done)
{
    afterCommands(device, Awaited::ConfirmedSample, std::move(done));
}

void AfterFreshSample(int device, std::function<void(bool ok)> done)
{
    afterCommands(device, Awaited::Sample, std::move(done));
}

void AfterCommandsConfirmed(int device, std::function<void(bool ok)> done)
{
    afterCommands(device, Awaited::Confirmed, std::move(done));
}

Refusal LastRefusal(int device)
{
    const auto link = linkFor(device, nullptr);
    return link ? link->lastRefusal() : Refusal{};
}

QString LastOpenError(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return {};
    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        if (!d->openError.isEmpty() || !d->link)
            return d->openError;
        link = d->link;
    }
    return link->refusal(); // outside the lock, as every link call
}

QString LastLinkFault(int device)
{
    const auto link = linkFor(device, nullptr);
    return link ? link->lastFault() : QString();
}

QString UnitNotice(int device)
{
    const auto link = linkFor(device, nullptr);
    return link ? link->notice() : QString();
}

std::optional<PortSetting> LastPortSetting(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return std::nullopt;
    std::lock_guard<std::mutex> guard(d->lock);
    return d->setting;
}

UnitMaximum LearnedMaximum(int device)
{
    const auto link = linkFor(device, nullptr);
    return link ? link->learnedMaximum() : UnitMaximum{};
}

void AskSetpoints(int device)
{
    if (const auto link = linkFor(device, nullptr))
        link->askSetpoints();
}

HeldSetpoints SetpointsHeld(int device)
{
    const auto link = linkFor(device, nullptr);
    return link ? link->heldSetpoints() : HeldSetpoints{};
}

std::string ReadIdentity(int device)
{
    return identityOf(device);
}

std::shared_ptr<SimulatedSupply> SimulatorFor(int device)
{
    Device* d = deviceAt(device);
    if (!d)
        return nullptr;
    std::lock_guard<std::mutex> guard(d->lock);
    return d->sim;
}

void ResetSimulators()
{
    for (int device = 0; device < kDevices; ++device) {
        Device& d = *deviceAt(device);
        std::shared_ptr<Link> link;
        {
            std::lock_guard<std::mutex> guard(d.lock);
            if (d.link && d.link->simulatedSupply())
                link = std::move(d.link);
            d.sim.reset();
        }
        if (link)
            link->close();
    }
    ForgetSimulatedSupplies();
}

} // namespace pslink
