#pragma once

// The few pieces of asynchrony every component shares.
//
// A trap of QCoro 0.8 worth knowing: `co_return m_member;` moves the member
// out. Backends hand out their snapshot through snapshotCopy()
// (ConnectionLifecycle.h).

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
