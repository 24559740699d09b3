#include "ScreenshotTour.h"

#include "app/TarnwellDlg.h"
#include "device/RecordFormat.h"
#include "platform/Dialogs.h"
#include "widgets/ItemIds.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

#include <cstdio>

namespace {

// A demo program: a staircase up and down with a current limit above what the load draws.
QByteArray DemoProgram()
{
    std::string text;
    recordfile::AppendLine(text, recordfile::kHeader);
    const float volts[] = {3.3f, 3.3f, 5.0f, 5.0f, 5.0f, 9.0f, 9.0f, 12.0f,
                           12.0f, 12.0f, 15.0f, 15.0f, 9.0f, 9.0f, 5.0f, 5.0f};
    int second = 1;
    for (float v : volts) {
        std::string row;
        recordfile::AppendSampleRow(row, second++, v, 0.3 + v / 10.0);
        recordfile::AppendLine(text, row);
    }
    return QByteArray::fromStdString(text);
}

template <typename T>
T* Item(QWidget& page, int id)
{
    return page.findChild<T*>(ItemName(id));
}

} // namespace

CScreenshotTour::CScreenshotTour(CTarnwellDlg& dlg, const QString& strOutDir)
    : m_dlg(dlg), m_strOutDir(strOutDir)
{
    m_timerPoll.setInterval(50);
    connect(&m_timerPoll, &QTimer::timeout, this, &CScreenshotTour::Poll);
}

CScreenshotTour::~CScreenshotTour()
{
    platform::SetDialogHandlers({}, {});
}

void CScreenshotTour::Start()
{
    QDir().mkpath(m_strOutDir);
    const QString program = m_dirWork.filePath(QStringLiteral("demo-program.csv"));
    const QString record = m_dirWork.filePath(QStringLiteral("demo-record.csv"));
    QFile file(program);
    if (!m_dirWork.isValid() || !file.open(QIODevice::WriteOnly) || file.write(DemoProgram()) < 0) {
        std::fprintf(stderr, "screenshots: cannot write the demo program\n");
        Finish(1);
        return;
    }
    file.close();

    // Nobody answers dialogs here: every file dialog gets the file the step before it named,
    // and a message box would mean that the tour went wrong.
    platform::SetDialogHandlers(
        [](const QString& text) { std::fprintf(stderr, "screenshots: message: %s\n", qPrintable(text)); },
        [this](const platform::FileDialogRequest&) -> std::optional<QString> { return m_strNextFile; });
    m_strProgram = program;
    m_strRecord = record;
    BuildSteps();
    m_nStep = 0;
    m_clockStep.start();
    m_timerPoll.start();
}

void CScreenshotTour::Then(const QString& strWhat, std::function<bool()> ready, std::function<void()> action,
                           int nTimeoutMs)
{
    m_steps.push_back(Step{strWhat, std::move(ready), std::move(action), nTimeoutMs});
}

void CScreenshotTour::Do(const QString& strWhat, std::function<void()> action)
{
    Then(strWhat, [] { return true; }, std::move(action));
}

void CScreenshotTour::Poll()
{
    if (m_nStep >= m_steps.size()) {
        Finish(m_bFailed ? 1 : 0);
        return;
    }
    Step& step = m_steps[m_nStep];
    if (!step.ready()) {
        if (m_clockStep.elapsed() > step.nTimeoutMs) {
            std::fprintf(stderr, "screenshots: gave up waiting: %s\n", qPrintable(step.strWhat));
            Finish(1);
        }
        return;
    }
    step.action();
    ++m_nStep;
    m_clockStep.restart();
}

void CScreenshotTour::Grab(const QString& strName)
{
    const QString path = QDir(m_strOutDir).filePath(strName);
    if (!m_dlg.grab().save(path)) {
        std::fprintf(stderr, "screenshots: cannot save %s\n", qPrintable(path));
        m_bFailed = true;
    } else {
        std::printf("%s\n", qPrintable(path));
    }
}

void CScreenshotTour::Finish(int nResult)
{
    m_timerPoll.stop();
    m_nStep = m_steps.size();
    // The dialogs answer a person again.
    platform::SetDialogHandlers({}, {});
    Q_EMIT Finished(nResult);
}

void CScreenshotTour::BuildSteps()
{
    QWidget& control = *m_dlg.m_tab.widget(0);
    QWidget& program = *m_dlg.m_tab.widget(1);
    QWidget& record = *m_dlg.m_tab.widget(2);
    auto click = [](QAbstractButton* button) {
        if (button != nullptr)
            button->click();
    };
    auto enabled = [](QWidget* widget) { return widget != nullptr && widget->isEnabled(); };

    Then(QStringLiteral("window shown"), [this] { return m_dlg.isVisible(); },
         [&control, click] { click(Item<QPushButton>(control, IDC_CONNECT)); });
    Then(QStringLiteral("connected"), [&control, enabled] { return enabled(Item<QPushButton>(control, IDC_ON)); },
         [this, &control, click] {
             m_strNextFile = m_strProgram;
             click(Item<QRadioButton>(control, IDC_PROGRAM_MODE));
         });
    Then(QStringLiteral("program chosen"),
         [&control] {
             auto* path = Item<QLineEdit>(control, IDC_PROGRAM_FILE);
             return path != nullptr && !path->text().isEmpty();
         },
         [&control, click] { click(Item<QPushButton>(control, IDC_ON)); });
    // The program plays one point a second and ends by itself; Save Data comes back then.
    Then(QStringLiteral("program run ended"),
         [&control, enabled] {
             return enabled(Item<QPushButton>(control, IDC_SAVE)) && enabled(Item<QPushButton>(control, IDC_ON));
         },
         [this] { Grab(QStringLiteral("control-en.png")); }, 60000);
    Do(QStringLiteral("save the record"), [this, &control, click] {
        m_strNextFile = m_strRecord;
        click(Item<QPushButton>(control, IDC_SAVE));
    });
    Then(QStringLiteral("record saved"), [this] { return QFile::exists(m_strRecord); }, [this, &program, click] {
        m_dlg.m_tab.setCurrentIndex(1);
        m_strNextFile = m_strProgram;
        click(Item<QPushButton>(program, IDC_OPEN));
    });
    Do(QStringLiteral("program page"), [this] { Grab(QStringLiteral("program-en.png")); });
    Do(QStringLiteral("open the record"), [this, &record, click] {
        m_dlg.m_tab.setCurrentIndex(2);
        m_strNextFile = m_strRecord;
        click(Item<QPushButton>(record, IDC_OPEN));
    });
    Then(QStringLiteral("record shown"),
         [&record] {
             auto* name = Item<QLineEdit>(record, IDC_FILE_NAME);
             return name != nullptr && !name->text().isEmpty();
         },
         [this] { Grab(QStringLiteral("record-en.png")); });
    Do(QStringLiteral("Chinese"), [this, &control] {
        m_dlg.m_tab.setCurrentIndex(0);
        if (auto* language = Item<QComboBox>(control, IDC_LANGUAGE)) {
            language->setCurrentIndex(1);
            Q_EMIT language->activated(1);
        }
    });
    Do(QStringLiteral("Control page in Chinese"), [this] { Grab(QStringLiteral("control-zh.png")); });
    Do(QStringLiteral("DataRecord page in Chinese"), [this] {
        m_dlg.m_tab.setCurrentIndex(2);
        Grab(QStringLiteral("record-zh.png"));
    });
}
