#pragma once

// The device library: the serial link to the supply, defined in pslink.cpp. Its drawing face
// (device/draw/Draw.h), what a port reaches (device/link/PortSetting.h) and what the settings
// files say (device/LinkSettings.h) come with it, so a caller includes this header alone.
// Integers are 32-bit unless noted; the first argument is the device index (0 everywhere).
// A digit buffer is 5 bytes whose first four hold one decimal digit each (0..9), most significant
// first: hundredths of a volt or thousandths of an ampere.

#include "device/LinkSettings.h"
#include "device/draw/Draw.h"
#include "device/link/LinkTypes.h"
#include "device/link/PortSetting.h"
#include "device/link/Protection.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// ---- Link ----

/// Opens the link of `device` on port index `port` (0..6 = COM1..COM7): OpenPort with
/// pslink::PortSettingFor(port). Nonzero when open.
int OpenCOM(int device, int port);
/// Asks the supply for its identity into a 10-byte buffer. Nonzero when it answered.
std::int16_t dsoReadVersion(int device, unsigned char* version);
/// Switches the output off.
void dsoCloseOutput(int device);
/// Switches the output on.
void dsoOpenOutput(int device);
/// Tells the supply that the computer has taken over (no visible effect on most units).
void dsoOpenPower(int device);
/// Sends a voltage setpoint from a digit buffer (hundredths of a volt).
std::int16_t dsoSetVoltage(int device, unsigned char* digits);
/// Sends a current setpoint from a digit buffer (thousandths of an ampere).
std::int16_t dsoSetCurrent(int device, unsigned char* digits);
/// Fills a digit buffer with the measured voltage, as the link's latest poll read it; a poll
/// more than about a second old asks for another, so a caller that keeps reading finds readings
/// at most that old (AfterFreshReadings waits for ones taken after a given moment).
void dsoReadVoltage(int device, unsigned char* digits);
/// Fills a digit buffer with the measured current.
void dsoReadCurrent(int device, unsigned char* digits);
/// Fills the OUT, C.V and C.C lamp words, each 0 or 1.
void dsoReadState(int device, int* out, int* cv, int* cc);
/// Ends the link of `device`; harmless when nothing is open.
void CloseCOM(int device);
/// 1 while the link of `device` works; 0 when nothing is open, the port failed, the supply has
/// not answered for 3 s, or a change it was sent did not hold after three tries (for good, until
/// the next OpenCOM). A setpoint the unit holds at its own maximum has held.
int dsoLinkAlive(int device);

// ---- What our library adds around the link ----

namespace pslink {

class SimulatedSupply;

/// Opens the link of `device` to what `setting` names. Nonzero when open. `error` (when given)
/// receives what LastOpenError gives afterwards.
int OpenPort(int device, const PortSetting& setting, QString* error = nullptr);

/// Opens `device` again on the supply it was last opened on (OpenPort or OpenCOM), after its link
/// was lost: the same setting; for a serial port, the same adapter found again by what is stable
/// about it (its /dev/serial/by-id link, else its USB serial number) when its /dev/ttyUSB* number
/// changed, a port given as a link through that link; for a network unit, the same host and
/// port. Only opens: nothing is sent that changes the supply. Nonzero when open; `error` as for
/// OpenPort. LastPortSetting stays the setting first given.
int Reopen(int device, QString* error = nullptr);

/// The setting the last OpenPort (or OpenCOM) of `device` was given, kept after CloseCOM;
/// nullopt before the first.
std::optional<PortSetting> LastPortSetting(int device);

/// The maximum the unit on `device` showed on this connection: a setpoint above it held at it.
/// Setpoints above it are sent as it from then on. Forgotten by OpenPort, OpenCOM and CloseCOM.
UnitMaximum LearnedMaximum(int device);

/// Has the setpoints the unit holds read back once (nothing is asked of them otherwise), and the
/// setpoints as last confirmed or read on this connection; none known before.
void AskSetpoints(int device);
HeldSetpoints SetpointsHeld(int device);

/// The protections tripped on the supply of `device` (ProtectionBit values), as the link last read
/// them; 0 when none has tripped, nothing is open, or the dialect cannot tell.
unsigned ReadProtection(int device);

/// Asks the supply on `device` for its identity, as dsoReadVersion does, and returns the whole
/// text (the version buffer holds only nine characters); empty when it did not answer.
std::string ReadIdentity(int device);

/// The simulated supply behind `device`: the one it is open on, or after CloseCOM the one it
/// was last open on; nullptr when that link is not the simulator.
std::shared_ptr<SimulatedSupply> SimulatorFor(int device);

/// Forgets every simulated supply, so the next OpenCOM starts a fresh one (tests).
void ResetSimulators();

/// Runs `done(true)` once every command given to `device` before this call (setpoints, output
/// switching) has been sent and confirmed by the supply, or replaced by a newer one, and a whole
/// poll (state, voltage, current) started after this call and after they were sent has
/// completed: dsoReadState, dsoReadVoltage and dsoReadCurrent called from then on reflect
/// those commands. The link asks the supply for a poll only when someone waits for one (or reads
/// readings more than about a second old); otherwise it looks at the lamps once a second. Runs `done(false)` instead when
/// nothing is open or the link is already lost (at once, before this returns), or when the link
/// fails, is lost or is closed first. Exactly one of the two, exactly once; never after CloseCOM
/// returned: CloseCOM runs `done(false)` for every request still outstanding before it returns,
/// within its usual second. Never blocks the caller. The built-in simulated supply runs `done`
/// before this returns, on the caller's thread; a serial link runs it later on its own thread,
/// so `done` must return quickly and must not call CloseCOM: post the work to the UI thread.
void AfterFreshReadings(int device, std::function<void(bool ok)> done);

/// Makes every wait of `device` on its supply give up at once (an identity request under way or
/// asked later returns empty, as from a supply that did not answer), on the link open now and on
/// every link opened until ResumeWaits(device). Returns without waiting, from any thread: for an
/// owner cutting its own operation short (a closing window) while that operation waits on
/// another thread. The link stays open until CloseCOM.
void CancelWaits(int device);
/// Ends CancelWaits for the links opened from now on: the owner calls it once the operation it
/// cut short is over.
void ResumeWaits(int device);

/// As AfterFreshReadings without waiting for the poll: `done(true)` once every command given
/// before has been confirmed by the supply or replaced by a newer one. A setpoint the unit holds
/// at its own maximum counts as confirmed (see LearnedMaximum), and so does one it refused
/// (see LastRefusal).
void AfterCommandsConfirmed(int device, std::function<void(bool ok)> done);

/// As AfterFreshReadings without waiting for the read-backs: `done(true)` once every command
/// given before has been sent to the supply (or replaced by a newer one) and a whole poll
/// started after that has completed. What a run's sample waits for: the poll does not wait
/// behind the read-backs, which follow it. On a unit that has shown itself slow (a change
/// ignored at first) the read-backs come first, so the poll shows what the unit took.
void AfterFreshSample(int device, std::function<void(bool ok)> done);

/// The latest setpoint the supply on `device` refused on this connection (an out-of-range value
/// it said it did not take, keeping the one before); count 0 when none was, nothing is open, or
/// the dialect cannot tell. The link stays.
Refusal LastRefusal(int device);

/// After an OpenPort or OpenCOM that returned 0 because its port could not be opened or its
/// setting cannot be used: the whole sentence for a message box, saying why (permission denied,
/// busy, no such device, ...) and what to do about it. Also, while the link is open, after an
/// identity request that a unit answered but that turned the unit down (a Modbus module of a
/// model without scales): why. Empty when the last open of `device` succeeded, reached no
/// port at all, or opened its port and only the supply did not answer.
QString LastOpenError(int device);

/// What the user should know about how the unit on `device` is driven, as its family and
/// model tell after the identity request: an output switch that switches every channel of it, a
/// negative output set and read by its magnitude. Empty when nothing, or nothing is open.
QString UnitNotice(int device);

/// Why the latest reply on `device` that came to nothing did so, where its dialect can tell:
/// "no reply", "a reply with a bad CRC", "a reply from address 3", "exception 2 (illegal data
/// address)". Kept after whole replies; empty when none failed or nothing is open.
QString LastLinkFault(int device);

} // namespace pslink
