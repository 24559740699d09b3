#pragma once

// Every parser of the program that takes outside bytes, as fuzz targets: files (LoadFile in its
// three modes, the Program page's open, the number and row readers), the replies and commands of
// every registered dialect, and the serial port setting.

#include "fuzz/harness/FuzzHarness.h"

#include <memory>
#include <string_view>
#include <vector>

class CDlgProgram;
class QTemporaryDir;

namespace fuzz {

/// What the file targets share: a scratch folder with one reused input file, and the Program
/// page (made on first use).
class Scratch
{
public:
    Scratch();
    ~Scratch();
    /// Writes `bytes` to the reused input file (name ending in ".csv") and returns its path.
    const std::string& write(std::string_view bytes);
    /// A second file, for what a writer wrote.
    const std::string& secondPath() const { return m_second; }
    CDlgProgram& page();
    /// Message boxes shown so far (answered at once).
    int messages() const { return m_messages; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::string m_input;
    std::string m_second;
    std::unique_ptr<CDlgProgram> m_page;
    int m_messages = 0;
};

// The targets by the files that hold them.
std::vector<Target> TextTargets();                 // number text, record rows, the serial port setting
std::vector<Target> FileTargets(Scratch& scratch); // LoadFile in its three modes, the Program page's open
std::vector<Target> ProtocolTargets();             // decimal, identity, each dialect's texts, the framers
std::vector<Target> DialectTargets();              // replies and commands of every registered dialect
std::vector<Target> ServeTargets();                // a SCPI client's lines, MQTT commands, the service's settings

/// Every target. Make it after the application object (the Program page needs a QApplication
/// and the built-in simulated supply is opened on device 0) and destroy it before.
class TargetSet
{
public:
    TargetSet();
    ~TargetSet();
    const std::vector<Target>& targets() const { return m_targets; }
    const Target* find(std::string_view name) const;

private:
    std::unique_ptr<Scratch> m_scratch;
    std::vector<Target> m_targets;
};

} // namespace fuzz
