#pragma once

#include "device/Result.h"
#include "device/link/PortSetting.h"
#include "platform/FileDialogRequest.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// The program's model of the supply: link parameters, the last setpoints and readings in digit
/// form, the lamp states, the sample log, the program lists with their playback position, the
/// record rows, and the lock that keeps the worker's loading apart from painting and timer work.
class CPowerSupply
{
public:
    CPowerSupply();
    ~CPowerSupply();
    CPowerSupply(const CPowerSupply&) = delete;
    CPowerSupply& operator=(const CPowerSupply&) = delete;

    // ---- Device operations ----
    /// Opens the link and sends the connect sequence (Open, then output off, the stored setpoints
    /// and the take-over); 1 on success, 0 on failure. `pIdentity` gets the whole identity text.
    int Connect(std::string* pIdentity = nullptr);
    /// The first two steps of Connect: opens the link on m_portSetting, or else on port index
    /// m_nPort, and asks the identity
    /// into m_abVersion; 1 when the supply answered. Nothing is changed on the supply.
    int Open(std::string* pIdentity = nullptr);
    /// Sends a voltage (`which` nonzero) or a current setpoint; the library's result.
    int SetSetpoint(float fVolts, float fAmps, int which);
    /// Applies the next program point (or sets m_bFinished after the last); returns 1.
    int ApplyNextPoint();
    /// Reads and logs one program-mode sample; returns 1. BeginProgramSample, then
    /// TakeProgramSample.
    int ReadProgramSample();
    /// Reads and logs one user-mode sample into the 35-sample window and the record rows; returns 1.
    /// BeginRecordSample, then TakeRecordSample.
    int ReadRecordSample();
    /// The writing half of a sample: switches the output on when the sample is the run's first.
    /// A link whose readings lag its commands is given time between the two halves.
    void BeginProgramSample();
    void BeginRecordSample();
    /// The reading half: the state words, voltage and current, logged.
    int TakeProgramSample();
    int TakeRecordSample();
    /// Makes the program the playback (or, in display mode, copies it over m_nCycles passes into
    /// the sample log); returns 1. Playback goes round the one pass held: m_nPlayTotal =
    /// m_nPointsPerCycle * m_nCycles points.
    int ExpandProgram();
    void ResetPlayback();
    /// Copies series 1 (volts) or 2 (amperes) into `pData`, which must hold the whole series;
    /// returns the count. Prefer the vector form, which cannot overrun.
    int CopySeries(float* pData, std::int16_t nSeries);
    /// Copies series 1 or 2 into `data`, sized under the lock to the whole series; returns the count.
    int CopySeries(std::vector<float>& data, std::int16_t nSeries);

    // ---- Files ----
    /// Reads a record or program file. Refused unless the name ends in ".csv" (kNotCsv); a file
    /// that cannot be opened or read gives kCannotOpen with the system's text, a closing window
    /// (m_bAbortLoad) kAborted; nothing changes then. Keeps one pass of the program, so neither
    /// memory nor time depends on m_nCycles. With `bCountOnly` it only counts the file's lines.
    CResult Load(const QString& strPath, bool bCountOnly);
    /// Load with m_bCountOnly's choice; 1 when read, 0 otherwise.
    int LoadFile(QString strPath) { return Load(strPath, m_bCountOnly.load() != 0).Ok() ? 1 : 0; }
    /// The same, with the count-only choice given by the caller instead of the shared flag, so
    /// two loads on different threads never take each other's choice.
    int LoadFile(QString strPath, int bCountOnly) { return Load(strPath, bCountOnly != 0).Ok() ? 1 : 0; }
    /// Asks `choose` for a file name with the Save Data dialog and writes the record there when the
    /// name ends in ".csv" (kNothing otherwise, and when the dialog was cancelled).
    CResult SaveRecordAs(const platform::FileChooser& choose);
    /// Writes the record file (WriteRecord) through an atomic writer: kOk, or kCannotSave with the
    /// system's text, the file that was there left as it was.
    CResult Save(const QString& strPath);
    /// Save; 1 when written, 0 on failure.
    int SaveRecord(QString strPath) { return Save(strPath).Ok() ? 1 : 0; }
    /// The bytes of the record file, handed to `sink` in chunks: the header, the loaded program's
    /// rows renumbered over its passes, then the rows of user-mode samples, every line ending in
    /// CR LF. Stops and returns false as soon as `sink` returns false.
    bool WriteRecord(const std::function<bool(std::string_view)>& sink);

    // ---- State (members in declaration order) ----
    std::atomic<std::int16_t> m_nPort{0}; ///< written by the page's port list, read by Connect
    /// A port of the object's own instead of COM m_nPort+1 (tarnwell-cli --port); set before Connect.
    std::optional<pslink::PortSetting> m_portSetting;
    int m_nDevice = 0;
    std::atomic<int> m_nOutState{0};
    std::atomic<int> m_nCvState{0};
    std::atomic<int> m_nCcState{0};
    /// What has tripped (pslink::ProtectionBit values), read with the lamps; 0 where the link cannot tell.
    std::atomic<unsigned> m_nProtection{0};
    unsigned char m_abVersion[10] = {};
    unsigned char m_abSetVoltage[5] = {}; ///< from supply::kInitialCentivolts
    unsigned char m_abSetCurrent[5] = {}; ///< from supply::kInitialMilliamps
    unsigned char m_abReadVoltage[5] = {};
    unsigned char m_abReadCurrent[5] = {};
    float m_fVoltage = 0.0f;
    float m_fCurrent = 0.0f;
    std::atomic<int> m_nSample{0};
    std::atomic<int> m_nCycles{1};
    /// Record rows of user-mode samples, each ending in "\n"; they follow the loaded program's rows
    /// (m_progTime, m_progTexts over m_nRecordPasses passes), which are made when written.
    std::deque<std::string> m_rows;
    std::deque<std::string> m_lines; ///< lines of the last file read (not kept in display mode)
    std::deque<int> m_logTime;
    std::deque<float> m_logVoltage;
    std::deque<float> m_logCurrent;
    std::deque<int> m_playTime;
    std::deque<float> m_playVoltage;
    std::deque<float> m_playCurrent;
    std::deque<int> m_progTime;      ///< the program as loaded: one pass
    std::deque<float> m_progVoltage;
    std::deque<float> m_progCurrent;
    std::deque<std::string> m_progTexts; ///< "voltage,current" as written in the file (not kept in display mode)
    std::atomic<int> m_nRecordPasses{0}; ///< passes of the program in the record rows (the cycles at load)
    std::atomic<int> m_nWindow{0};
    std::atomic<int> m_nViewOffset{0};
    std::atomic<int> m_nPointsPerCycle{0};
    std::atomic<int> m_nPlayTotal{0};
    std::atomic<int> m_nPlayIndex{0};
    std::atomic<int> m_bProgramMode{0};
    std::atomic<int> m_bExpandPending{0};
    std::atomic<int> m_bFinished{0};
    QString m_strSetVoltage = QStringLiteral("0.0");
    QString m_strSetCurrent = QStringLiteral("0.0");
    QString m_strVoltage;
    QString m_strCurrent;
    std::atomic<int> m_bOpenOutput{0};
    std::atomic<int> m_bCountOnly{0};
    std::atomic<int> m_bDisplayMode{0};
    /// Counts the loads that emptied m_rows: rows taken under one epoch are all still there.
    std::atomic<unsigned> m_nRowsEpoch{0};
    /// Set by a closing window: a load under way (and every later one) stops and changes nothing.
    std::atomic<int> m_bAbortLoad{0};
    std::mutex m_hLock; ///< guards every sequence above against the other thread

private:
    /// Reads the OUT, C.V and C.C lamp words into the three state members, and the protections.
    void ReadLamps();
};
