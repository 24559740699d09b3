#include "cli/SignalPipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_fdPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_nArrived = 0;

void OnSignal(int nSignal)
{
    const int nSavedErrno = errno;
    g_nArrived = 1;
    const unsigned char byte = static_cast<unsigned char>(nSignal);
    [[maybe_unused]] const ssize_t n = ::write(g_fdPipe[1], &byte, 1);
    errno = nSavedErrno;
}

void Handle(int nSignal, void (*handler)(int), int nFlags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = nFlags;
    ::sigaction(nSignal, &action, nullptr);
}

} // namespace

CSignalPipe::CSignalPipe(QObject* parent) : QObject(parent)
{
    if (::pipe2(g_fdPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_pNotifier = std::make_unique<QSocketNotifier>(g_fdPipe[0], QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CSignalPipe::OnReadable);
    // SA_RESETHAND: the next one of the same kind is not caught, so it ends the program.
    Handle(SIGINT, OnSignal, SA_RESTART | SA_RESETHAND);
    Handle(SIGTERM, OnSignal, SA_RESTART | SA_RESETHAND);
    // A closed terminal (an SSH session that dropped) saves the record too; under nohup the
    // hang-up stays ignored and the run goes on.
    struct sigaction current = {};
    if (::sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
        Handle(SIGHUP, OnSignal, SA_RESTART | SA_RESETHAND);
        m_bHangUp = true;
    }
}

CSignalPipe::~CSignalPipe()
{
    Handle(SIGINT, SIG_DFL, 0);
    Handle(SIGTERM, SIG_DFL, 0);
    if (m_bHangUp)
        Handle(SIGHUP, SIG_DFL, 0);
    m_pNotifier.reset();
    for (int& fd : g_fdPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool CSignalPipe::Arrived()
{
    return g_nArrived != 0;
}

void CSignalPipe::OnReadable()
{
    unsigned char byte = 0;
    while (::read(g_fdPipe[0], &byte, 1) == 1)
        Q_EMIT Raised(byte);
}
