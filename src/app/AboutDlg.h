#pragma once

#include <QDialog>

/// The about box: program name, version and one line about what it is for.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
