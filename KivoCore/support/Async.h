#pragma once

// The few pieces of asynchrony every component shares.
//
// A trap of QCoro 0.8 worth knowing: `co_return m_member;` moves the member
// out. Backends hand out their snapshot through snapshotCopy()
// (KivoCore/radio/RadioLifecycle.h).

#include <QCoroTask>
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>
#include <utility>
#include <vector>

namespace kivo {

using ErrorReporter = std::function<void(const QString &message)>;

// Starts a task that nobody awaits. An exception such a task throws would
// otherwise vanish: it is caught and reported (to the log when no reporter
// is given).
void launch(QCoro::Task<void> task, ErrorReporter onError = {});

// A value that arrives once, awaited by any number of coroutines. Waiters
// are resumed through the event loop, never from inside resolve(), so the
// code that resolves (a socket's reader, say) is never re-entered.
// Copies share one state.
template <typename T = void>
class OneShot {
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    struct State {
        std::optional<Stored> value;
        std::exception_ptr error;
        std::vector<std::coroutine_handle<>> waiters;
        std::vector<std::function<void()>> observers;
        bool done = false;
    };

public:
    OneShot() : m_state(std::make_shared<State>()) {}

    bool isDone() const { return m_state->done; }

    // The first outcome wins; later ones are ignored.
    template <typename U = T>
        requires(!std::is_void_v<U>)
    void resolve(U value)
    {
        if (m_state->done)
            return;
        m_state->value.emplace(std::move(value));
        finish();
    }

    template <typename U = T>
        requires std::is_void_v<U>
    void resolve()
    {
        if (m_state->done)
            return;
        m_state->value.emplace();
        finish();
    }

    void fail(std::exception_ptr error)
    {
        if (m_state->done)
            return;
        m_state->error = std::move(error);
        finish();
    }

    template <typename E>
    void fail(E error)
    {
        fail(std::make_exception_ptr(std::move(error)));
    }

    // Runs `observer` through the event loop once an outcome is in.
    void onDone(std::function<void()> observer)
    {
        if (m_state->done)
            QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(observer), Qt::QueuedConnection);
        else
            m_state->observers.push_back(std::move(observer));
    }

    // Resolves with `value` when called, unless nobody holds this any more.
    template <typename U = T>
        requires(!std::is_void_v<U>)
    std::function<void()> weakResolver(U value) const
    {
        std::weak_ptr<State> weak = m_state;
        return [weak, value] {
            if (auto state = weak.lock())
                OneShot(state).resolve(value);
        };
    }

    // Resolves with `value` unless an outcome arrived within `timeout`.
    template <typename U = T>
        requires(!std::is_void_v<U>)
    void resolveAfter(std::chrono::milliseconds timeout, U value)
    {
        QTimer::singleShot(timeout, QCoreApplication::instance(), weakResolver(std::move(value)));
    }

    // Fails with `error` unless an outcome arrived within `timeout`.
    void failAfter(std::chrono::milliseconds timeout, std::exception_ptr error)
    {
        std::weak_ptr<State> weak = m_state;
        QTimer::singleShot(timeout, QCoreApplication::instance(), [weak, error] {
            if (auto state = weak.lock()) {
                OneShot other(state);
                other.fail(error);
            }
        });
    }

    auto operator co_await() const
    {
        struct Awaiter {
            std::shared_ptr<State> state;
            bool await_ready() const noexcept { return state->done; }
            void await_suspend(std::coroutine_handle<> handle) { state->waiters.push_back(handle); }
            T await_resume()
            {
                if (state->error)
                    std::rethrow_exception(state->error);
                if constexpr (!std::is_void_v<T>)
                    return *state->value;
            }
        };
        return Awaiter{m_state};
    }

private:
    explicit OneShot(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    void finish()
    {
        m_state->done = true;
        auto waiters = std::move(m_state->waiters);
        m_state->waiters.clear();
        for (auto &observer : std::exchange(m_state->observers, {}))
            QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(observer), Qt::QueuedConnection);
        for (auto handle : waiters) {
            // Keep the state alive until the waiter has read it.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [handle, keep = m_state] { handle.resume(); }, Qt::QueuedConnection);
        }
    }

    std::shared_ptr<State> m_state;
};

// Waits on the event loop without blocking it.
inline QCoro::Task<void> sleepFor(std::chrono::milliseconds duration)
{
    OneShot<> done;
    QTimer::singleShot(duration, QCoreApplication::instance(), [done]() mutable { done.resolve(); });
    co_await done;
}

// Waits `duration`, or less when `wake` has an outcome first (a stop, a
// cancellation): true when woken. No frame stays parked after the wake.
inline QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, OneShot<> wake)
{
    OneShot<bool> woken;
    woken.resolveAfter(duration, false);
    wake.onDone(woken.weakResolver(true));
    co_return co_await woken;
}

// Waits for `event` at most `timeout`, then fails it (and so every waiter)
// with `error`. Nothing stays suspended once the deadline has passed.
template <typename T, typename E>
QCoro::Task<T> awaitWithin(OneShot<T> event, std::chrono::milliseconds timeout, E error)
{
    event.failAfter(timeout, std::make_exception_ptr(std::move(error)));
    if constexpr (std::is_void_v<T>)
        co_await event;
    else
        co_return co_await event;
}

} // namespace kivo
