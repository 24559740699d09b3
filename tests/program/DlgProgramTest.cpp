#include "program/DlgProgram.h"

#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"
#include "widgets/ItemIds.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

namespace {

// Answers the page's dialogs: file dialogs take the next queued path (or cancel), message
// boxes are recorded.
class ProgramPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        platform::SetDialogHandlers(
            [this](const QString& text) { messages << text; },
            [this](const platform::FileDialogRequest& r) -> std::optional<QString> {
                requests.push_back(r);
                if (answers.empty())
                    return std::nullopt;
                const QString path = answers.front();
                answers.erase(answers.begin());
                return path;
            });
    }
    void TearDown() override { platform::SetDialogHandlers({}, {}); }

    QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    static void Write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QByteArray SaveTo(const QString& path)
    {
        answers.push_back(path);
        page.OnBnClickedSave();
        return Read(path);
    }
    void Open(const QString& path)
    {
        answers.push_back(path);
        page.OnBnClickedOpen();
    }
    void Add(const char* volts, const char* amps, const char* time)
    {
        page.m_editVoltage.setText(QLatin1String(volts));
        page.m_editCurrent.setText(QLatin1String(amps));
        page.m_editTime.setText(QLatin1String(time));
        page.OnBnClickedAdd();
    }
    std::vector<QString> Row(int row) const
    {
        std::vector<QString> cells;
        for (int col = 0; col < 4; ++col)
            cells.push_back(page.m_list.GetItemText(row, col));
        return cells;
    }

    QTemporaryDir dir;
    QStringList messages;
    std::vector<platform::FileDialogRequest> requests;
    std::vector<QString> answers;
    std::uint16_t language = 0;
    CDlgProgram page;
};

void Wheel(QWidget* widget, int delta)
{
    const QPointF centre = QPointF(widget->rect().center());
    QWheelEvent event(centre, widget->mapToGlobal(centre), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

} // namespace

TEST_F(ProgramPageTest, AddClampsAndRoundsThroughFloats)
{
    const struct {
        const char *volts, *amps, *time, *line;
        QStringList messages;
    } cases[] = {
        // 1.115 as a 32-bit float lies just above 1.115, so it rounds up.
        {"1.115", "0.5", "10", "10,1.12,0.500", {}},
        // An exact tie goes to the even digit, as "%.2f" rounds it.
        {"0.125", "0.5", "11", "11,0.12,0.500", {}},
        {"32", "5.1", "1", "1,32.00,5.100", {}},
        {"32.01", "0", "2", "2,32.00,0.000", {QStringLiteral("Voltage Max Value = 32V!")}},
        {"0", "5.2", "3", "3,0.00,5.100", {QStringLiteral("Current Max Value = 5.1A!")}},
        {"99", "9", "4", "4,32.00,5.100",
         {QStringLiteral("Voltage Max Value = 32V!"), QStringLiteral("Current Max Value = 5.1A!")}},
        {"2", "0.25", "", ",2.00,0.250", {}},
        {"", "", "5", "5,0.00,0.000", {}},
    };
    int row = 0;
    for (const auto& c : cases) {
        messages.clear();
        Add(c.volts, c.amps, c.time);
        EXPECT_EQ(messages, c.messages) << c.line;
        ASSERT_EQ(page.m_list.m_stepLines.size(), std::size_t(row + 1));
        EXPECT_EQ(page.m_list.m_stepLines.back(), QLatin1String(c.line));
        const QStringList parts = QString::fromLatin1(c.line).split(QLatin1Char(','));
        EXPECT_EQ(Row(row), (std::vector<QString>{QStringLiteral("*"), parts[0], parts[1], parts[2]}));
        ++row;
    }
    EXPECT_EQ(page.m_list.m_nRowCount, row);
    // What was typed stays in the fields, clamped or not.
    EXPECT_EQ(page.m_editVoltage.text(), QString());
    Add("40", "0", "1");
    EXPECT_EQ(page.m_editVoltage.text(), QStringLiteral("40"));
}

TEST_F(ProgramPageTest, TimeStepsByWholeSecondsAndNeverBelowZero)
{
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("1"));
    page.m_editTime.setText(QStringLiteral("0"));
    page.m_btnSpinUp->click();
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("1"));
    page.m_btnSpinDown->click();
    page.m_btnSpinDown->click();
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("0"));

    // Up and Down keys in the field act as the arrows.
    page.m_editTime.setText(QStringLiteral("41"));
    QTest::keyClick(&page.m_editTime, Qt::Key_Up);
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("42"));
    QTest::keyClick(&page.m_editTime, Qt::Key_Down);
    QTest::keyClick(&page.m_editTime, Qt::Key_Down);
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("40"));

    page.m_editTime.setText(QString());
    EXPECT_EQ(page.OnDeltaposTimeSpin(-1), 0);
    page.OnDeltaposTimeSpin(1);
    EXPECT_EQ(page.m_editTime.text(), QString());
    page.m_editTime.setText(QStringLiteral("7"));
    page.OnDeltaposTimeSpin(5);
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("7"));

    // The wheel counts whole seconds too (towards the operator counts up, as in the other
    // fields), stops at 0 and sends nothing to the supply.
    pslink::ResetSimulators();
    pslink::SetSimulateAll(true);
    ASSERT_EQ(OpenCOM(0, 0), 1);
    ASSERT_NE(pslink::SimulatorFor(0), nullptr);
    Wheel(&page.m_editCurrent, -120); // a setpoint field does send: the log sees wheel sends
    EXPECT_FALSE(pslink::SimulatorFor(0)->Log().empty());
    pslink::SimulatorFor(0)->clearLog();
    page.m_editTime.setText(QStringLiteral("1"));
    Wheel(&page.m_editTime, -120);
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("2"));
    Wheel(&page.m_editTime, 120);
    Wheel(&page.m_editTime, 120);
    Wheel(&page.m_editTime, 120);
    EXPECT_EQ(page.m_editTime.text(), QStringLiteral("0"));
    EXPECT_TRUE(pslink::SimulatorFor(0)->Log().empty());
    CloseCOM(0);
    pslink::SetSimulateAll(false);
    pslink::ResetSimulators();
}

TEST_F(ProgramPageTest, WheelStartsFromTheShownValue)
{
    page.m_editVoltage.setText(QStringLiteral("12.5"));
    Wheel(&page.m_editVoltage, -120); // one volt up from what was typed
    EXPECT_EQ(page.m_editVoltage.text(), QStringLiteral("13.50"));
    page.m_editVoltage.setText(QStringLiteral("3"));
    Wheel(&page.m_editVoltage, 120);
    EXPECT_EQ(page.m_editVoltage.text(), QStringLiteral("2.00"));

    page.m_editCurrent.setText(QStringLiteral("5.05"));
    Wheel(&page.m_editCurrent, -120);
    EXPECT_EQ(page.m_editCurrent.text(), QStringLiteral("5.100"));

    // A typed value beyond the limit steps down from the limit: nothing above it is sent.
    pslink::ResetSimulators();
    pslink::SetSimulateAll(true);
    ASSERT_EQ(OpenCOM(0, 0), 1);
    auto sim = pslink::SimulatorFor(0);
    ASSERT_NE(sim, nullptr);
    page.m_editVoltage.setText(QStringLiteral("40"));
    Wheel(&page.m_editVoltage, 120);
    EXPECT_EQ(page.m_editVoltage.text(), QStringLiteral("31.00"));
    EXPECT_EQ(sim->setCentivolts(), 3100);
    page.m_editCurrent.setText(QStringLiteral("9"));
    Wheel(&page.m_editCurrent, 120);
    EXPECT_EQ(page.m_editCurrent.text(), QStringLiteral("5.000"));
    EXPECT_EQ(sim->setMilliamps(), 5000);
    CloseCOM(0);
    pslink::SetSimulateAll(false);
    pslink::ResetSimulators();
}

TEST_F(ProgramPageTest, SaveWritesHeaderOnlyInTheNewState)
{
    EXPECT_EQ(SaveTo(Path("empty.txt")), QByteArray("Time(S),Voltage(V),Current(A)\r\n"));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].save);
    EXPECT_EQ(requests[0].title, QStringLiteral("Save data to file..."));
    EXPECT_EQ(requests[0].filter, QStringLiteral("Program File(*.csv)|*.csv|Text File(*.txt)|*.txt||"));
    EXPECT_EQ(requests[0].defaultExt, QStringLiteral(".txt"));
    EXPECT_EQ(page.m_strSavePath, Path("empty.txt"));

    // Cancelling writes nothing.
    page.OnBnClickedSave();
    EXPECT_EQ(page.m_strSavePath, Path("empty.txt"));

    // Opened: the file's first line stands in for the header; added rows follow, one line each.
    const QString source = Path("prog.csv");
    Write(source, "Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n2,2.00,0.200\r\n");
    Open(source);
    EXPECT_EQ(page.m_list.m_bFileOpened, 1);
    EXPECT_EQ(SaveTo(Path("same.csv")), Read(source));
    Add("3", "0.3", "3");
    EXPECT_EQ(SaveTo(Path("more.csv")),
              QByteArray("Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"));

    // Deleting the first shown row keeps the file's first line; deleting all returns to the header.
    page.m_list.selectRow(0);
    page.m_list.OnDeleteOneRow();
    EXPECT_EQ(SaveTo(Path("less.csv")),
              QByteArray("Time(S),Voltage(V),Current(A)\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n"));
    page.m_list.OnDeleteAllRows();
    Add("1", "0.1", "1");
    EXPECT_EQ(SaveTo(Path("fresh.csv")), QByteArray("Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ProgramPageTest, CellEditsAreShownButNotSaved)
{
    Add("1", "0.1", "1");
    page.m_list.ShowItemEditor(0, 2, page.m_list.visualRect(page.m_list.model()->index(0, 2)));
    page.m_list.m_itemEdit.setText(QStringLiteral("40"));
    page.m_list.OnItemEditEnd();
    EXPECT_EQ(page.m_list.GetItemText(0, 2), QStringLiteral("40"));
    EXPECT_EQ(SaveTo(Path("edit.csv")), QByteArray("Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n"));
}

TEST_F(ProgramPageTest, OpenSplitsLinesAtCommasAsTheyStand)
{
    // LF alone ends a line too, and the last line needs no line end.
    Write(Path("odd.txt"), "header, not data\r\nabc\r\n7,8\n1,2,3,4\r\n\r\n 5 , 6.0 ,x\r\n9,1.5,0.2");
    Open(Path("odd.txt"));
    EXPECT_EQ(requests.back().title, QStringLiteral("Open File..."));
    EXPECT_FALSE(requests.back().save);
    EXPECT_EQ(requests.back().filter, QStringLiteral("Program Files(*.csv)|*.csv|"));
    ASSERT_EQ(page.m_list.rowCount(), 6);
    EXPECT_EQ(page.m_list.m_nRowCount, 6);
    const QString star = QStringLiteral("*");
    EXPECT_EQ(Row(0), (std::vector<QString>{star, "", "", "abc"}));
    EXPECT_EQ(Row(1), (std::vector<QString>{star, "7", "", "8"}));
    EXPECT_EQ(Row(2), (std::vector<QString>{star, "1", "2", "3,4"}));
    EXPECT_EQ(Row(3), (std::vector<QString>{star, "", "", ""}));
    EXPECT_EQ(Row(4), (std::vector<QString>{star, " 5 ", " 6.0 ", "x"}));
    EXPECT_EQ(Row(5), (std::vector<QString>{star, "9", "1.5", "0.2"}));
    ASSERT_EQ(page.m_list.m_stepLines.size(), 7u);
    EXPECT_EQ(page.m_list.m_stepLines[0], QStringLiteral("header, not data"));
    EXPECT_EQ(page.m_list.m_stepLines[4], QString());

    // Other extensions are ignored; the check ignores case.
    Write(Path("other.set"), "h\r\n1,1,1\r\n");
    Open(Path("other.set"));
    EXPECT_EQ(page.m_list.rowCount(), 6);
    Write(Path("UPPER.TXT"), "h\r\n1,1,1\r\n");
    Open(Path("UPPER.TXT"));
    EXPECT_EQ(page.m_list.rowCount(), 1);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ProgramPageTest, FailedOrEmptyOpenKeepsThePageSaveable)
{
    Add("1", "0.1", "1");
    Add("2", "0.2", "2");
    // A file that cannot be read changes nothing, so a following Save keeps the rows on screen.
    Open(Path("missing.csv"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Can not open file: "))) << messages[0].toStdString();
    EXPECT_EQ(page.m_list.rowCount(), 2);
    EXPECT_EQ(page.m_list.m_nRowCount, 2);
    EXPECT_EQ(page.m_list.m_stepLines.size(), 2u);
    EXPECT_EQ(page.m_list.m_bFileOpened, 0);
    EXPECT_EQ(SaveTo(Path("kept.csv")),
              QByteArray("Time(S),Voltage(V),Current(A)\r\n1,1.00,0.100\r\n2,2.00,0.200\r\n"));

    // A file without any line leaves the page new: the header comes back on Save, and rows
    // added afterwards can be deleted one by one without losing the others.
    Write(Path("void.csv"), "");
    Open(Path("void.csv"));
    EXPECT_EQ(page.m_list.rowCount(), 0);
    EXPECT_EQ(page.m_list.m_bFileOpened, 0);
    Add("3", "0.3", "1");
    Add("4", "0.4", "2");
    page.m_list.selectRow(0);
    page.m_list.OnDeleteOneRow();
    EXPECT_EQ(SaveTo(Path("void-saved.csv")), QByteArray("Time(S),Voltage(V),Current(A)\r\n2,4.00,0.400\r\n"));
}

TEST_F(ProgramPageTest, FailedSaveIsReportedAndKeepsTheOldFile)
{
    Add("1", "0.1", "1");
    EXPECT_EQ(SaveTo(Path("no/such/dir/p.csv")), QByteArray("<missing>"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cann't save file: "))) << messages[0].toStdString();
    EXPECT_GT(messages[0].size(), QStringLiteral("Cann't save file: ").size());

    // A target that is a folder is refused and left alone.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.csv")));
    SaveTo(Path("folder.csv"));
    EXPECT_EQ(messages.size(), 2);
    EXPECT_TRUE(QFileInfo(Path("folder.csv")).isDir());

    // In a folder that cannot be written, the good file there stays whole (permissions do not
    // bind the superuser, so only checked for others).
    if (::geteuid() != 0) {
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
        const QString good = Path("locked/good.csv");
        Write(good, "Time(S),Voltage(V),Current(A)\r\n9,9.00,0.900\r\n");
        QFile::setPermissions(Path("locked"), QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_EQ(SaveTo(good), QByteArray("Time(S),Voltage(V),Current(A)\r\n9,9.00,0.900\r\n"));
        EXPECT_EQ(messages.size(), 3);
        QFile::setPermissions(Path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

TEST_F(ProgramPageTest, CaptionsFollowTheLanguageFlag)
{
    const int ids[] = {IDC_PRESET_VOLTAGE_LABEL, IDC_PRESET_VOLTAGE, IDC_PRESET_CURRENT_LABEL, IDC_PRESET_CURRENT, IDC_TIME_LABEL, IDC_TIME, IDC_TIME_SPIN,
                         IDC_ADD, IDC_SAVE, IDC_OPEN, IDC_PRINT, IDC_STEP_LIST};
    for (const int id : ids)
        EXPECT_NE(page.findChild<QWidget*>(QString::number(id)), nullptr) << id;

    auto caption = [&](int id) {
        QWidget* w = page.findChild<QWidget*>(ItemName(id));
        if (auto* label = qobject_cast<QLabel*>(w))
            return label->text();
        if (auto* button = qobject_cast<QPushButton*>(w))
            return button->text();
        return QString();
    };
    auto titles = [&] {
        QStringList list;
        for (int col = 0; col < page.m_list.columnCount(); ++col)
            list << page.m_list.horizontalHeaderItem(col)->text();
        return list;
    };
    EXPECT_EQ(caption(IDC_PRESET_VOLTAGE_LABEL), QStringLiteral("Preset Voltage:"));
    EXPECT_EQ(titles(), (QStringList{"   ", "Time(S)", "Voltage(V)", "Current(A)"}));

    language = 1;
    page.m_pLanguage = &language;
    for (int i = 0; i < 5; ++i)
        page.ApplyLanguage();
    EXPECT_EQ(caption(IDC_PRESET_VOLTAGE_LABEL), QStringLiteral("设置电压"));
    EXPECT_EQ(caption(IDC_PRINT), QStringLiteral("打印"));
    EXPECT_EQ(titles(), (QStringList{"   ", "时间(S)", "电压(V)", "电流(A)"}));

    language = 0;
    page.ApplyLanguage();
    EXPECT_EQ(caption(IDC_PRINT), QStringLiteral("Print"));
    EXPECT_EQ(titles(), (QStringList{"   ", "Time(S)", "Voltage(V)", "Current(A)"}));
    EXPECT_EQ(page.m_list.columnWidth(0), 40);
    EXPECT_EQ(page.m_list.columnWidth(3), 90);
}

TEST_F(ProgramPageTest, LaysOutWithoutOverlapIn900By500)
{
    page.m_pLanguage = &language; // both sets of captions must fit
    for (int pass = 0; pass < 2; ++pass) {
        language = std::uint16_t(pass);
        page.ApplyLanguage();
        page.resize(900, 500);
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
        QCoreApplication::processEvents();
        std::vector<QWidget*> controls;
        for (QWidget* w : page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible())
                controls.push_back(w);
        ASSERT_GE(controls.size(), 15u);
        for (QWidget* w : controls) {
            const std::string name = (w->objectName() + w->property("text").toString()).toStdString();
            EXPECT_TRUE(page.rect().contains(w->geometry())) << name;
            EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
            EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name;
            for (QWidget* other : controls) {
                if (other != w) {
                    EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                        << name << " / " << other->objectName().toStdString();
                }
            }
        }
        // All four columns fit in the list without scrolling sideways.
        EXPECT_LE(page.m_list.horizontalHeader()->length(), page.m_list.viewport()->width());
    }
}

TEST_F(ProgramPageTest, SavedProgramPlaysOnTheSupplyModel)
{
    Add("5", "1", "1");
    Add("12.5", "0.25", "2");
    Add("1.115", "5.2", "3");
    SaveTo(Path("play.csv"));
    CPowerSupply supply;
    ASSERT_EQ(supply.LoadFile(Path("play.csv")), 1);
    EXPECT_EQ(supply.m_nPointsPerCycle.load(), 3);
    EXPECT_EQ(std::vector<int>(supply.m_progTime.begin(), supply.m_progTime.end()), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(std::vector<float>(supply.m_progVoltage.begin(), supply.m_progVoltage.end()),
              (std::vector<float>{5.0f, 12.5f, 1.12f}));
    EXPECT_EQ(std::vector<float>(supply.m_progCurrent.begin(), supply.m_progCurrent.end()),
              (std::vector<float>{1.0f, 0.25f, 5.1f}));
}
