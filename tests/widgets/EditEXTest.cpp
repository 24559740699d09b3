#include "widgets/EditEX.h"
#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class EditEX : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pslink::ResetSimulators();
        qputenv("TARNWELL_COM1", "sim");
        ASSERT_NE(OpenCOM(0, 0), 0);
        sim().clearLog();
        field.resize(80, 24);
        field.show();
    }
    void TearDown() override
    {
        CloseCOM(0);
        qunsetenv("TARNWELL_COM1");
        pslink::ResetSimulators();
    }
    pslink::SimulatedSupply& sim() { return *pslink::SimulatorFor(0); }

    // One real wheel event at the field's centre; angleDelta as Qt reports it.
    void wheel(QPoint angleDelta)
    {
        const QPointF pos(field.width() / 2.0, field.height() / 2.0);
        QWheelEvent event(pos, field.mapToGlobal(pos), QPoint(), angleDelta, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&field, &event);
    }
    void wheel(int dy) { wheel(QPoint(0, dy)); }

    void setUp(bool voltage, float value, std::int16_t step)
    {
        field.m_bVoltage = voltage ? 1 : 0;
        field.m_fValue = value;
        field.m_nStep = step;
    }

    CEditEX field;
};

TEST_F(EditEX, WheelTowardsOperatorRaisesClampsAndSendsVoltage)
{
    setUp(true, 31.5f, 0);
    wheel(-120);
    EXPECT_EQ(field.text(), "32.00");
    EXPECT_EQ(field.m_fValue, 32.0f);
    wheel(-120); // at the limit: shown and sent again
    EXPECT_EQ(field.text(), "32.00");
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"dsoSetVoltage 3,2,0,0", "dsoSetVoltage 3,2,0,0"}));
    EXPECT_EQ(sim().setCentivolts(), 3200);
}

TEST_F(EditEX, WheelStepsCurrentWithinItsLimits)
{
    setUp(false, 0.05f, 1);
    wheel(120); // away from the operator lowers, held at 0
    EXPECT_EQ(field.text(), "0.000");
    EXPECT_EQ(field.m_fValue, 0.0f);

    setUp(false, 5.05f, 1);
    wheel(-120);
    EXPECT_EQ(field.text(), "5.100");
    EXPECT_EQ(field.m_fValue, 5.1f);
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"dsoSetCurrent 0,0,0,0", "dsoSetCurrent 5,1,0,0"}));
}

TEST_F(EditEX, ShownValueIsTheOneSent)
{
    // 1.125 V typed, one 1 V step: an exact tie at two decimals, shown as the supply receives it.
    setUp(true, 1.125f, 1);
    wheel(-120);
    EXPECT_EQ(field.text(), "2.12");
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"dsoSetVoltage 0,2,1,2"}));
}

TEST_F(EditEX, OneEventIsOneStepWhateverItsAngle)
{
    setUp(true, 5.0f, 2);
    wheel(-720); // six notches in one event
    EXPECT_EQ(field.text(), "5.10");
    wheel(-15); // a fraction of a notch from a fine wheel
    EXPECT_EQ(field.text(), "5.20");
    wheel(1);
    EXPECT_EQ(field.text(), "5.10");

}

TEST_F(EditEX, ZeroDeltaOrBadStepIndex)
{
    setUp(true, 7.0f, 1);
    field.setText(QStringLiteral("7.00"));
    wheel(QPoint(120, 0)); // horizontal only: no vertical delta
    EXPECT_EQ(field.m_bWheelChanged, 1);
    EXPECT_EQ(field.m_fValue, 7.0f);
    EXPECT_TRUE(sim().Log().empty());

    // Out of the table: value unchanged, still shown and sent.
    setUp(true, 7.0f, 9);
    wheel(-120);
    EXPECT_EQ(field.m_fValue, 7.0f);
    EXPECT_EQ(field.text(), "7.00");
    EXPECT_EQ(sim().Log(), (std::vector<std::string>{"dsoSetVoltage 0,7,0,0"}));
}

TEST_F(EditEX, DisabledFieldIgnoresTheWheel)
{
    setUp(true, 7.0f, 1);
    field.setEnabled(false);
    wheel(-120);
    EXPECT_EQ(field.m_fValue, 7.0f);
    EXPECT_TRUE(sim().Log().empty());
}

TEST_F(EditEX, OwnerTellsSteppedFromTypedChanges)
{
    std::vector<int> seen;
    QObject::connect(&field, &QLineEdit::textChanged, [&](const QString&) { seen.push_back(field.m_bWheelChanged); });
    setUp(true, 1.0f, 1);
    wheel(-120);
    QTest::keyClick(&field, Qt::Key_5);
    wheel(-120);
    QTest::keyClick(&field, Qt::Key_Minus); // refused, yet a typed character
    EXPECT_EQ(field.m_bWheelChanged, 0);
    wheel(-120);
    QGuiApplication::clipboard()->setText(QStringLiteral("4"));
    field.end(false);
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier); // a paste is typed input too
    EXPECT_EQ(seen, (std::vector<int>{1, 0, 1, 1, 0}));
}

TEST_F(EditEX, TypingAcceptsOnlyAPlainNonNegativeNumber)
{
    QTest::keyClick(&field, Qt::Key_Period); // nothing to put a point after
    EXPECT_EQ(field.text(), "");
    QTest::keyClicks(&field, QStringLiteral("1.5"));
    EXPECT_EQ(field.text(), "1.5");
    QTest::keyClicks(&field, QStringLiteral(".-+ ae,"));
    EXPECT_EQ(field.text(), "1.5");
    QTest::keyClick(&field, Qt::Key_Return);
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.text(), "1.");
    QTest::keyClick(&field, Qt::Key_Home);
    QTest::keyClick(&field, Qt::Key_Delete);
    EXPECT_EQ(field.text(), ".");
    QTest::keyClick(&field, Qt::Key_2);
    EXPECT_EQ(field.text(), "2.");

    // Text set by the program is not filtered.
    field.setText(QStringLiteral("-3.25"));
    EXPECT_EQ(field.text(), "-3.25");
}

TEST_F(EditEX, DigitsOnlyFieldRefusesThePoint)
{
    field.m_bDigitsOnly = 1;
    QTest::keyClicks(&field, QStringLiteral("12.5"));
    EXPECT_EQ(field.text(), "125");
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.text(), "12");
    field.insert(QStringLiteral("0.5")); // pasted text too
    EXPECT_EQ(field.text(), "12");
}

TEST_F(EditEX, PasteMustLeaveAPlainNumber)
{
    auto paste = [&](const QString& initial, const QString& clip) {
        field.setText(initial);
        field.end(false);
        QGuiApplication::clipboard()->setText(clip);
        field.paste();
        return field.text();
    };
    EXPECT_EQ(paste("", "2.5"), "2.5");
    EXPECT_EQ(paste("1", ".5"), "1.5");
    EXPECT_EQ(paste("", "-3"), "");
    EXPECT_EQ(paste("", "."), "");
    EXPECT_EQ(paste("1.", "5.2"), "1.");
    EXPECT_EQ(paste("7", "1e3"), "7");

    // Keyboard paste and programmatic insert meet the same rule.
    field.setText(QStringLiteral("3"));
    QGuiApplication::clipboard()->setText(QStringLiteral("x"));
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field.text(), "3");
    field.insert(QStringLiteral("-"));
    EXPECT_EQ(field.text(), "3");
}

} // namespace
