#pragma once

// A Control page against the built-in simulated supply, with the dialogs answered by the test.

#include "control/ControlItems.h"
#include "control/DlgControl.h"
#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"
#include "support/RunTicks.h"
#include "widgets/EditEX.h"
#include "widgets/ItemIds.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class DlgControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pslink::ResetSimulators();
        pslink::SetSimulateAll(true);
        platform::SetDialogHandlers([this](const QString& text) { m_messages.push_back(text); },
                                    [this](const platform::FileDialogRequest& request) {
                                        m_requests.push_back(request);
                                        return m_nextFile;
                                    });
        m_page = std::make_unique<CDlgControl>();
        m_page->m_pLanguage = &m_nLanguage;
        m_page->resize(900, 500);
        m_page->show();
        m_page->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_page.get()));
    }

    void TearDown() override
    {
        m_page.reset();
        platform::SetDialogHandlers({}, {});
        pslink::SetSimulateAll(false);
        pslink::ResetSimulators();
    }

    template <typename T = QWidget>
    T* Item(int nID) const
    {
        T* widget = m_page->findChild<T*>(ItemName(nID));
        EXPECT_NE(widget, nullptr) << "no item " << nID;
        return widget;
    }

    QString Text(int nID) const
    {
        bool found = false;
        const QString text = ItemText(*m_page, nID, &found);
        if (!found)
            ADD_FAILURE() << "no text item " << nID;
        return text;
    }

    bool Enabled(int nID) const { return Item(nID)->isEnabled(); }
    bool Shown(int nID) const { return Item(nID)->isVisible(); }

    void Click(int nID) { ClickButton(Item<QAbstractButton>(nID)); }

    static bool WaitFor(const std::function<bool()>& done, int ms = 3000) { return QTest::qWaitFor(done, ms); }

    /// As WaitFor, but without running this thread's events: the worker's control changes, which
    /// wait on this thread, stay waiting.
    static bool WaitWithoutEvents(const std::function<bool()>& done, int ms = 3000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done();
    }

    /// Waits until the worker has finished a whole pass that began after this call.
    void WaitForPasses(int n = 2)
    {
        const int target = m_page->m_nPass.load() + n;
        ASSERT_TRUE(WaitFor([&] { return m_page->m_nPass.load() >= target; }));
    }

    /// Connects through the button and the worker.
    void ConnectByButton()
    {
        Click(IDC_CONNECT);
        ASSERT_TRUE(WaitFor([&] { return m_page->m_bConnected.load() != 0; }));
    }

    /// Runs a command at once on this thread as the worker would (its control changes run inline
    /// here), and waits until the supply's thread has done what the command handed it.
    void Execute(std::int16_t nCode, std::int32_t nValue = 0)
    {
        m_page->ExecuteCommand(nCode, nValue);
        m_page->m_engine.Settle();
    }

    /// Connects at once on this thread, for tests about what follows a connect: waiting for the
    /// worker would only add its sleep.
    void Connect()
    {
        Execute(CMD_CONNECT);
        ASSERT_EQ(m_page->m_bConnected.load(), 1);
    }

    /// A tick of the page's run timer, waited out.
    void Tick(int nTimer) { ASSERT_TRUE(::Tick(m_page->m_engine.Run(), nTimer)); }

    std::shared_ptr<pslink::SimulatedSupply> Sim() const { return pslink::SimulatorFor(0); }

    /// Focuses a preset field as a click would (runs the page's focus handler).
    void FocusField(int nID)
    {
        QWidget* field = Item(nID);
        field->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(WaitFor([&] { return field->hasFocus(); }));
    }

    /// Replaces a preset field's text by typing.
    void Type(int nID, const char* text)
    {
        auto* field = Item<QLineEdit>(nID);
        FocusField(nID);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, QString::fromLatin1(text));
    }

    void SelectStep(int index)
    {
        auto* list = Item<QComboBox>(IDC_STEP);
        list->setCurrentIndex(index);
        Q_EMIT list->activated(index);
    }

    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QByteArray ReadFile(const QString& path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        return file.readAll();
    }

    std::uint16_t m_nLanguage = 0;
    std::unique_ptr<CDlgControl> m_page;
    std::vector<QString> m_messages;
    std::vector<platform::FileDialogRequest> m_requests;
    std::optional<QString> m_nextFile;
    QTemporaryDir m_dir;
};
