#pragma once

#include <QApplication>

/// The application object: names the program, installs the widget dialogs and runs the main
/// window until it closes.
class CTarnwellApp : public QApplication
{
    Q_OBJECT
public:
    CTarnwellApp(int& argc, char** argv);

    /// Shows the main window and returns when it is closed, with the event loop's result. With
    /// `nSelfTestSeconds`, the window runs its self test for that long instead (CSelfTest).
    int InitInstance(int nSelfTestSeconds = 0);
};
