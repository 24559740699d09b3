#pragma once

#include "platform/DurableFile.h"

#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

/// The run journal's writer thread side: one journal open at a time with its file and its marker.
/// A journal that cannot be written (a full disk, a folder that cannot be written) keeps its rows
/// in memory and is tried again at every retry interval: once the disk takes them they are
/// written in order after the last whole row, so a row that a full disk cut in half is written
/// again whole. A run that ends before its rows could be written leaves them to be retried still.
class CJournalWriter
{
public:
    using Clock = std::chrono::steady_clock;
    /// Told once per journal when its disk work fails, with the system's reason.
    using ErrorHandler = std::function<void(const QString& strReason)>;
    /// Told when the file of journal `nJournal` has been made, and where.
    using MadeHandler = std::function<void(int nJournal, const QString& strPath)>;

    static constexpr auto kSyncEvery = std::chrono::seconds(1);
    static constexpr auto kRetryEvery = std::chrono::minutes(1);
    static constexpr char kMarkerSuffix[] = ".running";

    explicit CJournalWriter(MadeHandler onMade) : m_onMade(std::move(onMade)) {}
    ~CJournalWriter() { Close(); }
    CJournalWriter(const CJournalWriter&) = delete;
    CJournalWriter& operator=(const CJournalWriter&) = delete;

    /// The marker and the events file of the journal at `strJournal`.
    static QString MarkerOf(const QString& strJournal);
    static QString EventsOf(const QString& strJournal);

    void Open(int nJournal, const QString& strPath, ErrorHandler onError);
    void Row(std::string strText);
    /// Appends a line to the open journal's events file.
    void Note(const std::string& strLine);
    /// Ends the journal; older ones beyond the newest `nKeep` go.
    void End(int nKeep);
    /// Deletes journal `nJournal` at `strPath`, unless it is the one being written.
    void Remove(int nJournal, const QString& strPath);
    void Sync();
    /// When the next sync or retry is due; nullopt when nothing waits.
    std::optional<Clock::time_point> NextDue() const;
    /// Does what is due.
    void Tick();
    void SetRetryInterval(Clock::duration interval) { m_retryEvery = interval; }

private:
    /// A journal's rows that are not on disk yet.
    struct Backlog
    {
        QString strPath;
        qint64 nGoodBytes = 0; ///< what the file holds up to its last whole row
        std::deque<std::string> rows;
    };

    bool Create();
    void Fail(int nError);
    void Close();
    /// Writes the open journal's backlog; false when the disk still refuses it.
    bool WriteBacklog();
    /// Writes an ended journal's backlog to its file; false when it still cannot.
    static bool WriteBacklog(Backlog& backlog);
    void Retry();

    MadeHandler m_onMade;
    platform::AppendFile m_file;
    platform::LockedMarker m_marker;
    int m_nOpenJournal = 0;
    bool m_bMade = false; ///< the open journal's file exists
    ErrorHandler m_onError;
    bool m_bDirty = false;
    bool m_bFailing = false; ///< the open journal's rows wait in m_current.rows
    Backlog m_current;
    std::vector<Backlog> m_ended; ///< journals of ended runs whose rows still wait
    Clock::time_point m_lastSync = Clock::now();
    Clock::time_point m_nextRetry = Clock::now();
    Clock::duration m_retryEvery = kRetryEvery;
};
