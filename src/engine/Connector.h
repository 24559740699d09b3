#pragma once

#include "device/Result.h"

#include <QString>

#include <atomic>
#include <mutex>
#include <string>

class CPowerSupply;
class CSupplyThread;
class CSupplyWatch;

/// Connecting and disconnecting the engine's supply: the one connect sequence, run on the
/// supply's thread, and what the supply said it is.
class CConnector
{
public:
    /// How much of the connect sequence to send.
    enum Mode {
        kConnectFull,  ///< open, identity, output off, the stored setpoints, take over
        kIdentifyOnly, ///< open and ask the identity: nothing is changed on the supply
    };

    CConnector(CPowerSupply& supply, CSupplyThread& thread, CSupplyWatch& watch);
    CConnector(const CConnector&) = delete;
    CConnector& operator=(const CConnector&) = delete;

    /// Runs the connect sequence on the supply's port and waits for it (a worker or a front end
    /// without a window; never the window's UI thread): kOk, or kNoPort (the setting reaches
    /// nothing or the port could not be opened, with the sentence saying why and what to do) or
    /// kNoAnswer; the link is closed again on failure. A set `*pCancel` (a closing window) found
    /// once the connect begins gives kAborted without opening anything; `*pCancel` must outlive
    /// the call.
    CResult Connect(Mode nMode = kConnectFull, const std::atomic<int>* pCancel = nullptr);
    /// Closes the link once what was handed to the supply before is done. Any thread; does not
    /// wait. Ends no run: a front end ends it first.
    void Disconnect();
    /// Makes a connect under way, or handed over and not yet begun, give up at once (a closing
    /// window). Any thread; does not wait.
    void Abort();
    bool IsConnecting() const { return m_bConnecting.load() != 0; }
    /// The identity of the supply last connected, as one printable line.
    QString Identity() const;
    /// What the supply last connected answered, byte for byte: the identity a supply must give
    /// again to be taken back after the link was lost.
    std::string RawIdentity() const;
    /// What the user should know about how the supply last connected is driven (an output switch
    /// shared by all its channels, a negative output); empty when nothing.
    QString Notice() const;

private:
    /// The connect sequence, on the supply's thread.
    /// `nAborts`: the aborts there had been when the connect was handed over.
    CResult ConnectHere(Mode nMode, const std::atomic<int>* pCancel, unsigned nAborts);
    /// Once the link's first readings after a connect are in, tells the protections.
    void WatchProtection();

    CPowerSupply& m_supply;
    CSupplyThread& m_thread;
    CSupplyWatch& m_watch;
    std::atomic<int> m_bConnecting{0};
    std::atomic<unsigned> m_nAborts{0};
    mutable std::mutex m_hLock; ///< the identities: written on the supply's thread, read anywhere
    QString m_strIdentity;
    std::string m_rawIdentity;
    QString m_strNotice;
};
