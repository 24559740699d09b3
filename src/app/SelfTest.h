#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class CTarnwellDlg;

/// `tarnwell --self-test SECONDS`: proves a build works where nobody sits at the screen (CI, a
/// fresh install). Through the Control page's own buttons it connects COM1, starts a user-mode
/// run, lets it run for the seconds given, stops it, disconnects and quits: status 0 when the
/// run showed samples, 1 when a step did not come about within its time. Message boxes are
/// answered on standard error instead of waiting for a click.
class CSelfTest : public QObject
{
    Q_OBJECT
public:
    CSelfTest(CTarnwellDlg& dialog, int nSeconds);
    ~CSelfTest() override;

private:
    enum Step { kConnecting, kStarting, kRunning, kStopping, kDisconnecting };
    void Check();
    /// The next step, begun by clicking the button of item id `nButton` (0: none).
    void Next(Step nStep, int nButton = 0);
    void Quit(int nStatus, const char* pszWhy);

    CTarnwellDlg& m_dialog;
    const int m_nSeconds;
    Step m_nStep = kConnecting;
    QElapsedTimer m_since; ///< since the step began
    QTimer m_tmCheck;
};
