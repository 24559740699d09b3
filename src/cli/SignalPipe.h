#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

/// Turns SIGINT, SIGTERM and SIGHUP (unless ignored, as under nohup) into a Qt signal on the
/// thread that made it. The handler only writes a byte into a pipe (all a signal handler may
/// safely do); the read end wakes the event loop. Each handler fires once: a second Ctrl-C while
/// the first is being served ends the program the ordinary way. One object at a time.
class CSignalPipe : public QObject
{
    Q_OBJECT
public:
    explicit CSignalPipe(QObject* parent = nullptr);
    ~CSignalPipe() override;
    CSignalPipe(const CSignalPipe&) = delete;
    CSignalPipe& operator=(const CSignalPipe&) = delete;

    /// True once a signal arrived, also while the event loop was not running to report it.
    static bool Arrived();

Q_SIGNALS:
    void Raised(int nSignal);

private:
    void OnReadable();

    std::unique_ptr<QSocketNotifier> m_pNotifier;
    bool m_bHangUp = false; ///< SIGHUP is ours to restore
};
