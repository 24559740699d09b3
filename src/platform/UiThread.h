#pragma once

#include <functional>
#include <memory>

class QObject;

namespace platform {

/// Carries work from a worker thread to the user-interface thread.
///
/// `Run` executes a function on the UI thread and waits until it has completed, so a worker's
/// change to a control is done before the worker goes on. `Close` (called on the UI thread by the
/// owner before it joins its worker) refuses further calls and releases every waiting worker at
/// once: a worker never keeps the closing window waiting, and a function that was queued but not
/// yet started is dropped instead of running against a dying owner.
class UiThread
{
public:
    /// Must be constructed on the UI thread (the thread of the application object).
    UiThread();
    /// Closes; pending functions are dropped.
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    /// Runs `fn` on the UI thread and waits for it to finish. Called on the UI thread itself it
    /// runs `fn` at once. Returns false, without waiting further, when the helper is closed
    /// before or while the call waits; `fn` then did not run or its completion was not awaited.
    bool Run(const std::function<void()>& fn);

    /// Queues `fn` for the UI thread without waiting; dropped when closed before it runs.
    void Post(std::function<void()> fn);

    /// Refuses further calls and wakes every waiter. Idempotent; safe from any thread.
    void Close();

    /// True after Close.
    bool IsClosed() const;

    /// True when the calling thread is the UI thread.
    static bool OnUiThread();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QObject> m_receiver; ///< lives on the UI thread; queued calls die with it
};

} // namespace platform
