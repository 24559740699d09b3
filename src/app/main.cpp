#include "app/TarnwellDlg.h"
#include "device/pslink.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwell"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    if (QApplication::arguments().contains(QStringLiteral("--simulate")))
        pslink::SetSimulateAll(true);

    CTarnwellDlg dialog;
    dialog.show();
    return app.exec();
}
