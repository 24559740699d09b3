#pragma once

#include <QObject>
#include <QThread>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

/// The supply's own thread. Every operation on one engine's supply (the device library's calls
/// and the supply object's device work: connecting, setpoints, a tick's sending and reading,
/// reconnecting) runs here, one after another in the order handed over, so none needs a lock
/// against another, and what waits on the wire never holds up a caller. Results go back to the
/// thread that asked: queued to the engine's home thread (ToHome), or to a caller that may wait
/// (a worker, a command-line front end: Wait).
class CSupplyThread
{
public:
    /// The home thread is the constructing one: the thread of the engine's parts.
    CSupplyThread();
    /// Stop(); nothing handed over afterwards runs.
    ~CSupplyThread();
    CSupplyThread(const CSupplyThread&) = delete;
    CSupplyThread& operator=(const CSupplyThread&) = delete;

    /// Runs `work` on this thread after everything handed over before. From any thread.
    void Post(std::function<void()> work);
    /// Hands `fn` to the home thread, queued behind what was handed there before. From any thread;
    /// dropped once Stop() began.
    void ToHome(std::function<void()> fn);
    /// As Post, usable by callbacks that may outlive this object (a link's answer arriving on the
    /// link's own thread): once Stop() began they post nothing.
    std::function<void(std::function<void()>)> Poster() const;
    /// As ToHome, for callbacks that may outlive this object.
    std::function<void(std::function<void()>)> HomePoster() const;

    /// Runs `start` on this thread; it answers through the function it is given, at once or later,
    /// from any thread, exactly once. The caller waits for the answer, serving its own thread's
    /// events meanwhile where it has an event loop (the command line's main thread), plainly where
    /// not (the Control page's worker). Never from the window's UI thread.
    template <typename R>
    R WaitForReply(std::function<void(std::function<void(R)>)> start);
    /// Runs `work` on this thread and waits for its result, as WaitForReply.
    template <typename R>
    R Wait(std::function<R()> work);

    /// What AwaitFresh waits for beside the poll.
    enum FreshWait {
        kConfirmed,  ///< the commands read back from the supply too (pslink::AfterFreshReadings)
        kSampleOnly, ///< a run's sample: the poll alone (pslink::AfterFreshSample)
    };
    /// Runs `done` on this thread once every command given to the supply of `nDevice` before has
    /// been carried out and a whole poll after them has come in (true), or when the link failed
    /// or `timeout` passed first (false). The one wait for fresh readings. This thread only.
    void AwaitFresh(int nDevice, std::optional<std::chrono::milliseconds> timeout, std::function<void(bool)> done,
                    FreshWait nWait = kConfirmed);

    /// Runs what was handed over and ends the thread. Idempotent; the home thread only.
    void Stop();
    bool IsCurrent() const;

private:
    struct Gate;
    /// Runs `start`, handing it `done`, and waits until `done` was called.
    void AwaitDone(std::function<void(std::function<void()>)> start);

    QThread m_thread;
    std::shared_ptr<Gate> m_gate;
};

template <typename R>
R CSupplyThread::WaitForReply(std::function<void(std::function<void(R)>)> start)
{
    auto result = std::make_shared<std::optional<R>>();
    AwaitDone([start = std::move(start), result](std::function<void()> done) {
        start([result, done = std::move(done)](R value) {
            *result = std::move(value);
            done();
        });
    });
    // Empty only when the thread had stopped and nothing ran.
    return result->has_value() ? std::move(**result) : R{};
}

template <typename R>
R CSupplyThread::Wait(std::function<R()> work)
{
    return WaitForReply<R>([work = std::move(work)](std::function<void(R)> reply) { reply(work()); });
}
