#pragma once

#include <QWidget>

#include <cstdint>

class QTabWidget;

/// The main window: a tab control holding the Control, Program and DataRecord pages.
class CTarnwellDlg : public QWidget
{
    Q_OBJECT
public:
    explicit CTarnwellDlg(QWidget* parent = nullptr);
    ~CTarnwellDlg() override;

    std::uint16_t m_nLanguage = 0; ///< 0 English, any other value Chinese
    QTabWidget* m_tab = nullptr;
};
