#include "fuzz/harness/FuzzTargets.h"

#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"
#include "program/DlgProgram.h"

#include <QDir>
#include <QFile>
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

// Files as the program writes them: programs, records of user-mode runs and of programs over
// several cycles, the Program page's save, and the variants other writers make.
std::vector<std::string> FileCorpus(Scratch& scratch)
{
    const std::string header = std::string(recordfile::kHeader) + "\r\n";
    std::vector<std::string> corpus{header + "1,5.00,0.500\r\n2,9.00,0.900\r\n", header, "", "1,5.00,0.500"};

    std::string program = header;
    for (int t = 1; t <= 16; ++t) {
        recordfile::AppendRow(program, t, numtext::Fixed(2.0 + t * 1.5, 2), numtext::Fixed(0.25 * (t % 5), 3));
        program += "\r\n";
    }
    corpus.push_back(program);
    std::string lf = program;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;)
        lf.erase(at, 1);
    corpus.push_back(lf);

    std::string record = header;
    for (int s = 1; s <= 40; ++s) {
        recordfile::AppendSampleRow(record, s, 5.0 + (s % 7) * 0.5, s % 9 == 0 ? 5.1 : 0.125 * (s % 4));
        record += "\r\n";
    }
    corpus.push_back(record);
    corpus.push_back(header + "1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n7,7.00,0.700\r\n8,8.00,0.800\r\n");
    corpus.push_back(header + "0,0.00,0.000\r\n1,32.00,5.100\r\n2,32.01,5.101\r\n");
    corpus.push_back(header + "-2,1.5,0.5\r\n-1,2,1\r\n0,3.25,0.125\r\n");
    corpus.push_back("h\n2,5.00\n3,5.00,0.500,x\n4,,\n5\n");
    corpus.push_back(header + "2147483646,1.00,1.000\r\n2147483647,2.00,2.000\r\n");

    // A program played over three cycles and saved with a run's rows after it.
    CPowerSupply ps;
    ps.m_nCycles = 3;
    ps.LoadFile(QString::fromStdString(scratch.write(program)), 0);
    ps.m_rows = {"49,5.00,0.500\n", "50,5.00,0.499\n"};
    std::string written;
    ps.WriteRecord([&](std::string_view chunk) {
        written.append(chunk);
        return true;
    });
    corpus.push_back(written);

    // A program composed and saved on the Program page.
    CDlgProgram& page = scratch.page();
    for (const char* values : {"5,0.5,1", "12.6,1.25,2", "0,0,3"}) {
        const QStringList v = QString::fromLatin1(values).split(QLatin1Char(','));
        page.m_editVoltage.setText(v[0]);
        page.m_editCurrent.setText(v[1]);
        page.m_editTime.setText(v[2]);
        page.OnBnClickedAdd();
    }
    page.m_strSavePath = QString::fromStdString(scratch.secondPath());
    page.SaveProgramFile();
    QFile saved(page.m_strSavePath);
    if (saved.open(QIODevice::ReadOnly))
        corpus.push_back(saved.readAll().toStdString());
    return corpus;
}

TargetSet::TargetSet() : m_scratch(std::make_unique<Scratch>())
{
    for (auto part : {TextTargets(), FileTargets(*m_scratch), LinkTargets()})
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
