#pragma once

#include "engine/RunEngine.h"

#include <QDate>
#include <QObject>
#include <QString>

class CSupplyService;
struct CServiceState;

/// `serve --record DIR`: every second the service samples goes, as it is taken, to a record file
/// in DIR, one file a day (a new one at local midnight and at each start), in the record format
/// the window saves and opens, written crash-safely as the run journal is (a killed service loses
/// nothing written, a power cut at most the last second). Link events go to the events file
/// beside each record.
class CServiceRecord : public QObject
{
    Q_OBJECT
public:
    CServiceRecord(CSupplyService& service, const QString& strFolder, QObject* parent = nullptr);
    /// Ends the day's file normally.
    ~CServiceRecord() override;

    QString Folder() const { return m_strFolder; }

private:
    void OnSampled(const CServiceState& state);
    void OnLinkChanged(bool bUp);
    void StartFile();

    const QString m_strFolder;
    CRunJournal m_journal;
    QDate m_day;     ///< of the file being written
    int m_nRows = 0; ///< seconds in it so far
    bool m_bOpen = false;
};
