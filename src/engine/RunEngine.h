#pragma once

// The engine: connecting to the supply, the supply between runs, and the run itself, each a
// part of its own, all of whose work on the supply runs on the supply's own thread. The window's
// Control page and tarnwell-cli hold one CRunEngine and drive the same code through this header;
// failures come back as values (CResult) and reasons, never as dialogs, and the sentences a user
// reads come from EngineText.h.

#include "engine/Connector.h"
#include "engine/EngineText.h"
#include "engine/PortsView.h"
#include "engine/Run.h"
#include "engine/SampleLine.h"
#include "engine/SupplyCommands.h"
#include "engine/SupplyThread.h"
#include "engine/SupplyWatch.h"

class CPowerSupply;

/// One supply object's engine: its thread and its parts. Made and destroyed on the thread its
/// parts live on (the application object's thread will do).
class CRunEngine
{
public:
    explicit CRunEngine(CPowerSupply& supply);
    /// Ends trying and the timers without a word, then lets the supply's thread finish what was
    /// handed to it (each operation on the link is bounded) before the parts go.
    ~CRunEngine();
    CRunEngine(const CRunEngine&) = delete;
    CRunEngine& operator=(const CRunEngine&) = delete;

    CConnector& Connector() { return m_connector; }
    const CConnector& Connector() const { return m_connector; }
    CSupplyCommands& Commands() { return m_commands; }
    const CSupplyCommands& Commands() const { return m_commands; }
    CRun& Run() { return m_run; }
    const CRun& Run() const { return m_run; }
    CSupplyWatch& Watch() { return m_watch; }
    const CSupplyWatch& Watch() const { return m_watch; }
    CSupplyThread& Thread() { return m_thread; }

    /// Waits until everything handed to the supply's thread so far is done (not the UI thread).
    void Settle();

private:
    CSupplyThread m_thread;
    CSupplyWatch m_watch;
    CConnector m_connector;
    CSupplyCommands m_commands;
    CRun m_run;
};
