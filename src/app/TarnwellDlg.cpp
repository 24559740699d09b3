#include "app/TarnwellDlg.h"

#include <QTabWidget>
#include <QVBoxLayout>

CTarnwellDlg::CTarnwellDlg(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Tarnwell"));
    m_tab = new QTabWidget(this);
    m_tab->setObjectName(QStringLiteral("1002"));
    m_tab->addTab(new QWidget, QStringLiteral("Control"));
    m_tab->addTab(new QWidget, QStringLiteral("Program"));
    m_tab->addTab(new QWidget, QStringLiteral("DataRecord"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(m_tab);
    resize(900, 560);
}

CTarnwellDlg::~CTarnwellDlg() = default;
