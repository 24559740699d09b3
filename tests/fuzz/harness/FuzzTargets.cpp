#include "fuzz/harness/FuzzTargets.h"

#include "device/pslink.h"
#include "platform/Dialogs.h"
#include "program/DlgProgram.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

namespace {

// Every input is written to a file: in memory where the system offers it, so a pass never
// waits on a disk.
QString ScratchBase()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return (shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath()) + QStringLiteral("/tarnwell-fuzz-XXXXXX");
}

} // namespace

Scratch::Scratch() : m_dir(std::make_unique<QTemporaryDir>(ScratchBase()))
{
    if (!m_dir->isValid())
        throw std::runtime_error("no scratch folder");
    m_input = m_dir->filePath(QStringLiteral("input.csv")).toStdString();
    m_second = m_dir->filePath(QStringLiteral("written.csv")).toStdString();
    platform::SetDialogHandlers([this](const QString&) { ++m_messages; },
                                [](const platform::FileDialogRequest&) { return std::optional<QString>(); });
    // Playback sends its points to the built-in simulated supply on device 0.
    pslink::SetSimulateAll(true);
    OpenCOM(0, 0);
}

Scratch::~Scratch()
{
    m_page.reset();
    CloseCOM(0);
    pslink::SetSimulateAll(false);
    platform::SetDialogHandlers({}, {});
}

const std::string& Scratch::write(std::string_view bytes)
{
    // Plain system calls: the file is written once per input, so it must be quick.
    const int fd = ::open(m_input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot write the input file");
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write the input file");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fd);
    return m_input;
}

CDlgProgram& Scratch::page()
{
    if (!m_page)
        m_page = std::make_unique<CDlgProgram>();
    return *m_page;
}

TargetSet::TargetSet() : m_scratch(std::make_unique<Scratch>())
{
    for (auto part : {TextTargets(), FileTargets(*m_scratch), ProtocolTargets(), DialectTargets(), ServeTargets()})
        m_targets.insert(m_targets.end(), part.begin(), part.end());
}

TargetSet::~TargetSet() = default;

const Target* TargetSet::find(std::string_view name) const
{
    for (const Target& t : m_targets) {
        if (t.name == name)
            return &t;
    }
    return nullptr;
}

} // namespace fuzz
