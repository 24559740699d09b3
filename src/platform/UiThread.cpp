#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace platform {

// State shared with queued calls: a call that outlives the helper (its function opened a nested
// event loop during which the owner was destroyed) still finds valid state to report to.
struct UiThread::Shared
{
    std::mutex lock;
    std::condition_variable changed;
    bool closed = false;
    int running = 0; ///< calls executing right now (UI thread only)
};

namespace {

enum class CallState { Pending, Running, Done, Abandoned };

struct Call
{
    std::function<void()> fn;
    CallState state = CallState::Pending;
};

QThread* uiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app ? app->thread() : nullptr;
}

} // namespace

UiThread::UiThread() : m_shared(std::make_shared<Shared>()), m_receiver(std::make_unique<QObject>())
{
    if (QThread* ui = uiThread(); ui && m_receiver->thread() != ui)
        m_receiver->moveToThread(ui);
}

UiThread::~UiThread()
{
    Close();
    // Destroyed from inside one of its own calls: the receiver is still delivering that call.
    if (m_shared->running > 0)
        m_receiver.release()->deleteLater();
}

bool UiThread::OnUiThread()
{
    QThread* ui = uiThread();
    return ui && QThread::currentThread() == ui;
}

bool UiThread::Run(const std::function<void()>& fn)
{
    if (OnUiThread()) {
        if (IsClosed())
            return false;
        fn();
        return true;
    }

    auto call = std::make_shared<Call>();
    call->fn = fn;
    std::shared_ptr<Shared> shared = m_shared;
    std::unique_lock<std::mutex> guard(shared->lock);
    // Posted under the lock, so Close (and the receiver's destruction after it) cannot overtake us.
    if (shared->closed)
        return false;
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [shared, call]() {
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                if (shared->closed || call->state != CallState::Pending)
                    return;
                call->state = CallState::Running;
            }
            ++shared->running;
            call->fn();
            --shared->running;
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                if (call->state == CallState::Running)
                    call->state = CallState::Done;
            }
            shared->changed.notify_all();
        },
        Qt::QueuedConnection);

    shared->changed.wait(guard, [&] { return call->state == CallState::Done || shared->closed; });
    if (call->state == CallState::Done)
        return true;
    // Closed first: the UI thread must not wait for us, and a queued function must not start.
    call->state = CallState::Abandoned;
    return false;
}

void UiThread::Post(std::function<void()> fn)
{
    std::shared_ptr<Shared> shared = m_shared;
    std::lock_guard<std::mutex> guard(shared->lock);
    if (shared->closed)
        return;
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [shared, fn = std::move(fn)]() {
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                if (shared->closed)
                    return;
            }
            ++shared->running;
            fn();
            --shared->running;
        },
        Qt::QueuedConnection);
}

void UiThread::Close()
{
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->closed = true;
    }
    m_shared->changed.notify_all();
}

bool UiThread::IsClosed() const
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    return m_shared->closed;
}

} // namespace platform
