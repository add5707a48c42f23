#pragma once

#include <QString>
#include <optional>

namespace kivo {

// The case of `cases` whose rawValue() equals `raw` exactly (case-sensitive).
template <typename Cases>
auto caseFromRaw(const Cases &cases, const QString &raw) -> std::optional<std::decay_t<decltype(*std::begin(cases))>>
{
    for (const auto &candidate : cases) {
        if (rawValue(candidate) == raw)
            return candidate;
    }
    return std::nullopt;
}

} // namespace kivo
