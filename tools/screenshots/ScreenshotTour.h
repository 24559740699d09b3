#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <vector>

class CTarnwellDlg;

/// Walks the main window through a short session on the simulated supply and saves a picture of
/// each page: connect, play a demo program, save its record, show the program and the record, then
/// the Control page in Chinese. Run by `tarnwell-screenshots DIR` (scripts/screenshots.sh).
/// Reports the end through Finished: 0 when every picture was saved, 1 when a step did not come
/// about in time or a picture could not be written.
class CScreenshotTour : public QObject
{
    Q_OBJECT
public:
    CScreenshotTour(CTarnwellDlg& dlg, const QString& strOutDir);
    ~CScreenshotTour() override;

    void Start();

Q_SIGNALS:
    void Finished(int nResult);

private:
    struct Step
    {
        QString strWhat;
        std::function<bool()> ready; ///< the step runs once this holds
        std::function<void()> action;
        int nTimeoutMs = 20000;
    };

    void Then(const QString& strWhat, std::function<bool()> ready, std::function<void()> action,
              int nTimeoutMs = 20000);
    void Do(const QString& strWhat, std::function<void()> action);
    void Poll();
    void Finish(int nResult);
    void Grab(const QString& strName);
    void BuildSteps();

    CTarnwellDlg& m_dlg;
    QString m_strOutDir;
    QTemporaryDir m_dirWork;
    QString m_strProgram;
    QString m_strRecord;
    QString m_strNextFile; ///< what the next file dialog answers
    std::vector<Step> m_steps;
    size_t m_nStep = 0;
    QTimer m_timerPoll;
    QElapsedTimer m_clockStep;
    bool m_bFailed = false;
};
