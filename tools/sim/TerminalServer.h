#pragma once

// tarnwell-sim on a pseudo-terminal: the simulated unit on a serial port, as a USB adapter
// brings one. Prints the terminal's path as its first line, and again when a dropped link comes
// back (under another name, as an adapter plugged in again does).

#include "Simulator.h"

#include <string>

namespace sim {

class TerminalServer
{
public:
    explicit TerminalServer(Simulator& simulator);
    ~TerminalServer();
    TerminalServer(const TerminalServer&) = delete;
    TerminalServer& operator=(const TerminalServer&) = delete;

    /// Opens the log and the terminal, points --link at it and prints its path.
    bool start();
    /// Serves until standard input closes or SIGINT/SIGTERM; the exit status.
    int run();

private:
    bool openTerminal();
    bool pointLink();
    void dropLink();
    void bringBack();
    void followDrop();
    bool hearsLineRate() const;

    Simulator& m_simulator;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

} // namespace sim
