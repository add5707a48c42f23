#pragma once

// The message a user would see when an operation throws KivoError.

#include "KivoCore/KivoError.h"

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

} // namespace kivo::test
