#include "serve/ServiceRecord.h"

#include "device/RecordFormat.h"
#include "engine/RunEngine.h"
#include "serve/SupplyService.h"

#include <QDateTime>

#include <cstdio>

CServiceRecord::CServiceRecord(CSupplyService& service, const QString& strFolder, QObject* parent)
    : QObject(parent), m_strFolder(strFolder), m_journal(strFolder, CRunJournal::kKeepAll)
{
    connect(&service, &CSupplyService::Sampled, this, &CServiceRecord::OnSampled);
    connect(&service, &CSupplyService::LinkChanged, this, &CServiceRecord::OnLinkChanged);
}

CServiceRecord::~CServiceRecord()
{
    if (m_bOpen)
        m_journal.End();
    m_journal.Flush();
}

void CServiceRecord::StartFile()
{
    if (m_bOpen)
        m_journal.End();
    const QDateTime now = QDateTime::currentDateTime();
    m_day = now.date();
    m_nRows = 0;
    m_bOpen = true;
    m_journal.Begin(now, [folder = m_strFolder](const QString& strReason) {
        // The service goes on; what the disk refused is tried again every minute.
        std::fprintf(stderr, "tarnwell-cli: cannot write the record in %s: %s; it is tried again every minute\n",
                     qPrintable(folder), qPrintable(strReason));
    });
}

void CServiceRecord::OnSampled(const CServiceState& state)
{
    if (!m_bOpen || QDate::currentDate() != m_day)
        StartFile();
    std::string row;
    if (state.bReading)
        recordfile::AppendSampleRow(row, ++m_nRows, state.fVolts, state.fAmps);
    else
        recordfile::AppendGapRow(row, ++m_nRows);
    m_journal.Append(std::move(row));
}

void CServiceRecord::OnLinkChanged(bool bUp)
{
    if (m_bOpen)
        m_journal.Note(QDateTime::currentDateTime(),
                       enginetext::LinkNote(m_nRows, bUp ? CRunReasons::kLinkBack : CRunReasons::kLinkGone, {}));
}
