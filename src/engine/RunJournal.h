#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// A crash-safe copy of a run's samples. Every sample row goes, as it is taken, to a record file
/// under the user's state folder (`$XDG_STATE_HOME/tarnwell/runs/run-YYYYMMDD-HHMMSS.csv`, or
/// `~/.local/state/...`), in the very format Save Data writes, so the DataRecord page opens it as
/// it is. A writer thread appends each row at once and syncs the file at least once a second: a
/// killed process loses nothing written, a power cut at most the last second. The caller never
/// waits on the disk.
///
/// A marker file (`.running`) beside the journal lives as long as its run and is locked by the
/// process writing it; a marker left behind, unlocked, tells the next start that the program died
/// during that run.
class CJournalWriter;

class CRunJournal
{
public:
    /// Reports a failure of the disk work (from the writer thread); called once per journal.
    using ErrorHandler = std::function<void(const QString& strReason)>;

    /// Journals in `strFolder` (Folder() when empty), the newest `nKeep` of them kept as runs end
    /// (0: every one, for a folder of records the user asked for).
    explicit CRunJournal(QString strFolder = {}, int nKeep = kKeepNewest);
    /// Finishes what is queued and ends the writer thread.
    ~CRunJournal();
    CRunJournal(const CRunJournal&) = delete;
    CRunJournal& operator=(const CRunJournal&) = delete;

    /// Where journals live: $XDG_STATE_HOME/tarnwell/runs, or ~/.local/state/tarnwell/runs.
    static QString Folder();

    /// Starts the journal of a run beginning at `start`. The file is made by the writer thread;
    /// a failure reaches `onError`. Returns the journal's number for Delete and PathOf.
    int Begin(const QDateTime& start, ErrorHandler onError);
    /// Queues one record row ("12,5.00,0.500", without a line end).
    void Append(std::string strRow);
    /// Notes an event of the run (the link went or came back, a protection tripped) with the
    /// wall-clock time `at`, in the journal's events file beside it (`run-...events`, one line each),
    /// so the record itself stays in the format every reader takes.
    void Note(const QDateTime& at, const QString& strText);
    /// The events file of the journal at `strJournal`.
    static QString EventsOf(const QString& strJournal);
    /// Ends the journal normally: what is queued is written, the file synced and closed, the
    /// marker removed, and older journals beyond the newest 20 deleted.
    void End();
    /// Deletes a journal whose rows were saved (its file and marker), unless it is being written.
    void Delete(int nJournal);
    /// The file of a journal; empty until the writer has made it, or when it could not.
    QString PathOf(int nJournal) const;
    /// Waits until everything queued so far is on disk (tests, benchmarks, the end of a program).
    /// Rows the disk refused wait for the next retry.
    void Flush();
    /// How often a journal that could not be written is tried again (a minute; tests shorten it).
    void SetRetryInterval(std::chrono::milliseconds interval);

    /// A journal left by a run that did not end normally.
    struct CutOff
    {
        QString strPath;
        QDateTime cutAt; ///< when its last row was written
        int nSamples = 0;
    };
    /// Journals whose runs were cut off and not yet reported. Each is returned once: its marker is
    /// removed, so the next start does not report it again. Journals of runs still going in
    /// another process are left alone.
    static std::vector<CutOff> TakeCutOffRuns();
    /// The message a front end shows for a cut-off run.
    static QString CutOffMessage(const CutOff& cutOff);

    static constexpr int kKeepNewest = 20;
    static constexpr int kKeepAll = 0;

private:
    struct Job
    {
        enum Kind { Open, Row, Note, Close, Remove, Sync } kind;
        std::string text;
        int nJournal = 0;
        QString strPath;
        ErrorHandler onError;
    };
    void Push(Job job);
    void WriterLoop();
    void Run(CJournalWriter& writer, Job& job);

    const QString m_strFolder;
    const int m_nKeep;
    mutable std::mutex m_hLock;
    std::condition_variable m_cvWork;
    std::condition_variable m_cvIdle;
    std::deque<Job> m_jobs;
    bool m_bBusy = false;
    bool m_bStop = false;
    int m_nLastJournal = 0;
    std::chrono::steady_clock::duration m_retryEvery = std::chrono::minutes(1);
    std::map<int, QString> m_paths; ///< journals made, by number
    std::thread m_hThread;
};
