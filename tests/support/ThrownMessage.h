#pragma once

// The errors a call or a task throws, as a user or a caller would see them.

#include "KivoCore/support/KivoError.h"
#include "support/RunTask.h"

#include <QString>
#include <optional>
#include <utility>

namespace kivo::test {

// The KivoError's message, or nothing when the call returned normally.
template <typename Call>
std::optional<QString> thrownMessage(Call &&call)
{
    try {
        std::forward<Call>(call)();
    } catch (const KivoError &error) {
        return error.message();
    }
    return std::nullopt;
}

// The error of type Error a task threw, or nothing when it finished normally.
template <typename Error = KivoError, typename T>
std::optional<Error> errorOf(QCoro::Task<T> task, std::chrono::milliseconds timeout = patience)
{
    try {
        runTask(std::move(task), timeout);
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace kivo::test
