#include "app/AboutDlg.h"

#include "platform/BuildVersion.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    // The icon is in the core library's resources, which a static library must pull in itself.
    Q_INIT_RESOURCE(tarnwell);
    setWindowTitle(QStringLiteral("About Tarnwell"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("128"));
    icon->setPixmap(QIcon(QStringLiteral(":/tarnwell/tarnwell.png")).pixmap(48, 48));

    auto* version = new QLabel(QStringLiteral("Tarnwell, Version 1.0"), this);
    // The second line also names the build, so a report can say exactly what was run.
    auto* line = new QLabel(QStringLiteral("Control program for a bench power supply on a serial port\nBuild %1")
                                .arg(QLatin1String(platform::kBuildVersion)),
                            this);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(line, 1, 1);
    grid->addWidget(buttons, 2, 0, 1, 2);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}
