#pragma once

#include <QApplication>

/// The application object: names the program and runs the main window until it closes.
class CTarnwellApp : public QApplication
{
    Q_OBJECT
public:
    CTarnwellApp(int& argc, char** argv);

    /// Shows the main window and returns when it is closed, with the event loop's result.
    int InitInstance();

    /// When set, a screenshot tour runs in the window and saves its pictures here, then quits.
    QString m_strScreenshotDir;
};
