#pragma once

// Runs coroutines to completion from a test body, on a nested event loop.

#include <QCoroTask>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <variant>

namespace kivo::test {

using namespace std::chrono_literals;

// How long a test waits for what it expects before it gives up. A wait ends
// as soon as its event comes, so only a failing test waits this long; the
// sanitized build on a loaded machine can take seconds over a TLS connection.
inline constexpr std::chrono::milliseconds patience = 30s;

class TaskTimedOut : public std::runtime_error {
public:
    TaskTimedOut() : std::runtime_error("the task did not finish in time") {}
};

namespace detail {
template <typename T>
struct Outcome {
    std::conditional_t<std::is_void_v<T>, std::monostate, std::optional<T>> value;
    std::exception_ptr error;
    bool done = false;
    QEventLoop *loop = nullptr;
};

// Catches inside the coroutine: QCoro::waitFor hangs on a throwing task.
template <typename T>
QCoro::Task<void> capture(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            outcome->value = co_await std::move(task);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    if (outcome->loop)
        outcome->loop->quit();
}
} // namespace detail

// Takes the task to completion and returns its result or rethrows its error.
// Throws TaskTimedOut when it takes longer than `timeout`.
template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = patience)
{
    auto outcome = std::make_shared<detail::Outcome<T>>();
    auto wrapper = detail::capture<T>(std::move(task), outcome);
    if (!outcome->done) {
        QEventLoop loop;
        outcome->loop = &loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(timeout);
        loop.exec();
        outcome->loop = nullptr;
        if (!outcome->done)
            throw TaskTimedOut();
    }
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

// Spins the event loop until `condition` holds; false when time ran out.
inline bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout = patience)
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Lets queued work run for a while (for asserting that nothing happens).
inline void settle(std::chrono::milliseconds duration = 50ms)
{
    QDeadlineTimer deadline(duration);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace kivo::test
